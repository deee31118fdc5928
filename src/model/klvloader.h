// The model file reader: turns one ".klv" file (a texture name table followed by object records,
// each after its parent) into a tree of scene objects whose faces refer to textures shared by exact
// name through a TextureSource. Used by the scene assembly and the fugu; the device component
// supplies the textures.
//
// Everything outside the data model is refused with a KlvError naming the file and the problem:
// ShortFile when the file ends before what its counts promise, OutOfRange for a count, index,
// name length or depth outside the limits below. The objects made by a failed call are released;
// textures it registered stay registered (they belong to the device's list).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "model/sceneobject.h"
#include "model/texture_source.h"

// Most indices of one face or polygon (the read buffer of the format holds 256 bytes).
constexpr int32_t kMaxElementIndices = 128;
// Longest texture name, in bytes, without the terminator: the format stores it in a 256-byte field.
constexpr size_t kMaxModelNameBytes = 255;
// Longest folder prefix of a model file, in bytes: the longest path the system accepts.
constexpr size_t kMaxFolderPrefixBytes = 4095;
// Deepest parent chain inside one file: a root is at depth 0.
constexpr int kMaxModelDepth = 32;

// Reads the file whole and builds its objects. The folder prefix for texture bitmaps is FileName
// up to and including its last '/' or '\'. Returns object 0, the root; the caller owns the tree
// and frees it with FreeObjectTree. Objects after the first that have no parent are released.
TSceneObject* LoadModelFile(TextureSource& textures, const std::string& fileName);

// The same from bytes already in memory; fileName gives the folder prefix and names the file in
// errors.
TSceneObject* LoadModelBytes(TextureSource& textures, const std::string& fileName, std::span<const uint8_t> bytes);

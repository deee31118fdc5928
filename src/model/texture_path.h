// Where the bitmap a model file names lies on disk. Texture names in model files made on Windows
// use '\' between folders and may differ in letter case from the files; this maps such a name onto
// the folder beside the model file. Used by the model loader.
#pragma once

#include <string>

// The path to open for texture `name` (as stored in the model file) beside a model whose folder
// prefix is `prefix` (empty, or ending in a separator). '\' and '/' in the name both separate
// folders. When prefix + name exists it is the answer; otherwise each component of the name is
// matched in its folder, the exact spelling first, else the folder's entry equal to it ignoring
// ASCII letter case (the first such entry in byte order when several are). A component nothing
// matches ends the search with the name as written, so opening it reports the path the file
// named. Never throws for file-system reasons.
std::string ResolveTexturePath(const std::string& prefix, const std::string& name);

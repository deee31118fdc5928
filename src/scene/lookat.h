// Aiming and chrome: BuildLookAt makes the pose that puts an object or the camera at one point
// with its local +z axis aimed at another; UpdateReflectionUV recomputes, once per scene step,
// the sphere-map texture coordinates of every environment-mapped object in a tree.
#pragma once

#include "model/matrix.h"
#include "model/sceneobject.h"

// A matrix at eye whose local +z axis points at target, its local x axis level (no roll). When
// eye and target (nearly) coincide, the identity, translation included.
TMatrix44 BuildLookAt(const TVector3& eye, const TVector3& target);

// For every object under root (root and its descendants, not root's siblings) whose EnvMap is
// enabled, rewrites U and V of its vertices from the view direction (camera to object origin)
// reflected in each vertex normal and turned by the upper 3 x 3 block of reflection. World
// matrices here are the chain of Local matrices only.
void UpdateReflectionUV(TSceneObject* root, const TMatrix44& reflection, const TVector3& camera);

// Forced surface loss for tests and tools (see ddraw_testing.h).
#include "platform/dx5/ddraw_testing.h"

#include "platform/dx5/ddraw_objects.h"

bool ForceSurfaceLost(IDirectDrawSurface* surface) {
  DDrawSurface* own = dynamic_cast<DDrawSurface*>(surface);
  if (own == nullptr) return false;
  own->MarkLost();
  return true;
}

bool ForceSurfacesLost(IDirectDraw* directDraw) {
  DDrawObject* own = dynamic_cast<DDrawObject*>(directDraw);
  if (own == nullptr) return false;
  own->LoseSurfaces();
  return true;
}

// A stand-in for the separate settings program: it leaves the file "settei-ran" in the folder it
// was started in, holding that folder's path, so tests can see that and where it was launched.
#include <filesystem>
#include <fstream>

int main() {
  const std::filesystem::path folder = std::filesystem::current_path();
  std::ofstream marker(folder / "settei-ran.tmp");
  marker << folder.string();
  marker.close();
  // Renamed into place, so a test never reads a half-written file.
  std::filesystem::rename(folder / "settei-ran.tmp", folder / "settei-ran");
  return 0;
}

// Texture path resolution with non-throwing file-system calls: a folder that cannot be listed is
// treated as holding no match.
#include "model/texture_path.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

namespace {

namespace fs = std::filesystem;

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::path(path), ec);
}

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

// The entry of `folder` (empty: the current folder) whose name equals `component` ignoring case.
std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& component) {
  std::error_code ec;
  fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
  std::optional<std::string> best;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (EqualIgnoringCase(entry, component) && (!best || entry < *best)) best = std::move(entry);
  }
  return best;
}

}  // namespace

std::string ResolveTexturePath(const std::string& prefix, const std::string& name) {
  std::string relative = name;
  std::replace(relative.begin(), relative.end(), '\\', '/');
  const std::string exact = prefix + relative;
  if (Exists(exact)) return exact;

  std::string path = prefix;
  size_t start = 0;
  while (start <= relative.size()) {
    const size_t end = std::min(relative.find('/', start), relative.size());
    const std::string component = relative.substr(start, end - start);
    const bool last = end == relative.size();
    start = end + 1;
    if (component.empty()) continue;
    if (!Exists(path + component)) {
      const std::optional<std::string> match = FindIgnoringCase(path, component);
      if (!match) return exact;
      path += *match;
    } else {
      path += component;
    }
    if (!last) path += '/';
  }
  return path;
}

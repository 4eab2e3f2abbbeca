#include "apps/btcfit/file_identity.hpp"

#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#include <cwctype>
#else
#include <sys/stat.h>
#endif

namespace btcfit {
namespace {

namespace fs = std::filesystem;

// The absolute path with the links of its existing part resolved, or an
// empty path when the name cannot be resolved.
fs::path resolved(const std::string& name) {
  std::error_code error;
  fs::path p = fs::weakly_canonical(fs::absolute(fs::path(name), error), error);
  if (error) return {};
  return p.lexically_normal();
}

bool same_resolved_path(const std::string& a, const std::string& b) {
  const fs::path pa = resolved(a);
  const fs::path pb = resolved(b);
  if (pa.empty() || pb.empty()) return false;
#if defined(_WIN32)
  // Windows file systems match names without regard to case.
  const std::wstring wa = pa.wstring();
  const std::wstring wb = pb.wstring();
  if (wa.size() != wb.size()) return false;
  for (std::size_t i = 0; i < wa.size(); ++i) {
    if (std::towlower(wa[i]) != std::towlower(wb[i])) return false;
  }
  return true;
#else
  return pa == pb;
#endif
}

#if defined(_WIN32)

struct WindowsFileId {
  DWORD volume = 0;
  DWORD index_high = 0;
  DWORD index_low = 0;
};

// The file system's identity of an existing file, when it gives one.
bool windows_file_id(const std::string& name, WindowsFileId& id) {
  const fs::path p(name);
  // No access rights asked: only the file's attributes are read, so that a
  // file open elsewhere (or a folder) can still be examined.
  HANDLE h = CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL ok = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!ok) return false;
  id.volume = info.dwVolumeSerialNumber;
  id.index_high = info.nFileIndexHigh;
  id.index_low = info.nFileIndexLow;
  return true;
}

#endif

}  // namespace

bool same_existing_file(const std::string& a, const std::string& b) {
#if defined(_WIN32)
  WindowsFileId ia, ib;
  if (!windows_file_id(a, ia) || !windows_file_id(b, ib)) return false;
  const bool indexed = (ia.index_high | ia.index_low) != 0 && (ib.index_high | ib.index_low) != 0;
  if (indexed) {
    return ia.volume == ib.volume && ia.index_high == ib.index_high &&
           ia.index_low == ib.index_low;
  }
  return same_resolved_path(a, b);
#else
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#endif
}

bool same_file_name(const std::string& name, const std::string& other) {
  return same_existing_file(name, other) || same_resolved_path(name, other);
}

}  // namespace btcfit

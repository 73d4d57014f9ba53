// Win32 folder claim. Implements from platform.h:
//  - FolderClaim: a named mutex (CreateMutexW); ClaimedByAnother
#include <memory>

#include "platform/win32/backend_win32.h"

namespace platform {

// A named mutex, named from the folder's identity (volume and file index),
// so that every spelling of the folder, short or long, any letter case,
// names the same one. It lives in the Global namespace, so that programs
// in other sessions (another user's, on a shared folder) see it too, and
// it ends with its last handle, however the program ends; nothing is
// written into the folder.
struct FolderClaim::Impl {
  win32::Handle mutex;
  bool held = true;
};

namespace {

// FNV-1a: a name for a folder whose volume gives no file index.
std::uint64_t Hashed(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

FolderClaim::FolderClaim(const std::string& folder)
    : impl_(std::make_unique<Impl>()) {
  const FileState state = StatFile(folder);
  const std::string name =
      "Global\\larkspire-decompress-" +
      (state.Known() ? std::to_string(state.volume) + "-" +
                           std::to_string(state.indexHigh) + "-" +
                           std::to_string(state.index)
                     : std::to_string(Hashed(FoldCase(folder))));
  impl_->mutex.reset(::CreateMutexW(nullptr, FALSE, win32::Wide(name).c_str()));
  const DWORD error = ::GetLastError();
  // Made already, by a program of this user, or (access denied, no handle)
  // of another's. Any other failure leaves the folder unclaimed.
  const bool existed = impl_->mutex && error == ERROR_ALREADY_EXISTS;
  impl_->held = impl_->mutex ? !existed : !ClaimedByAnother(error);
  if (existed) impl_->mutex.reset();  // the other's, not to be kept alive
}
FolderClaim::FolderClaim(FolderClaim&&) noexcept = default;
FolderClaim& FolderClaim::operator=(FolderClaim&&) noexcept = default;
FolderClaim::~FolderClaim() = default;
bool FolderClaim::Held() const { return impl_->held; }

bool ClaimedByAnother(long error) {
  return error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}

}  // namespace platform

// POSIX folder claim. Implements from platform.h:
//  - FolderClaim: flock on the folder itself; ClaimedByAnother
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <memory>

#include "platform/platform.h"
#include "platform/posix/backend_posix.h"

namespace platform {

// flock on the folder itself: nothing is written into it, and the lock goes
// with the descriptor, so it ends with the program however it ends. The
// descriptor is close-on-exec, so no decoder holds it on.
struct FolderClaim::Impl {
  posix::Fd folder;
  bool held = true;
};

FolderClaim::FolderClaim(const std::string& folder)
    : impl_(std::make_unique<Impl>()) {
  impl_->folder.reset(
      ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (impl_->folder.get() < 0) posix::ThrowErrno(errno);
  int locked;
  while ((locked = ::flock(impl_->folder.get(), LOCK_EX | LOCK_NB)) != 0 &&
         errno == EINTR) {
  }
  impl_->held = locked == 0 || !ClaimedByAnother(errno);
}
// NFS emulates flock with byte-range locks, which a folder opened for
// reading cannot hold (ENOLCK or EBADF); some FUSE file systems have no
// locks at all.
bool ClaimedByAnother(long error) { return error == EWOULDBLOCK; }

FolderClaim::FolderClaim(FolderClaim&&) noexcept = default;
FolderClaim& FolderClaim::operator=(FolderClaim&&) noexcept = default;
FolderClaim::~FolderClaim() = default;
bool FolderClaim::Held() const { return impl_->held; }

}  // namespace platform

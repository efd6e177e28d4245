#include <cerrno>

#include "test_support.hpp"
#include "text/io_error.hpp"
#include "text/utf8_lossy.hpp"

namespace tarnex {
namespace {

struct KindCase {
  int code;
  const char* kind;
};

class ErrnoKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(ErrnoKinds, MapsToKindName) {
  EXPECT_EQ(kind_name(kind_of_errno(GetParam().code)), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    IoError, ErrnoKinds,
    ::testing::Values(
        KindCase{ENOENT, "NotFound"}, KindCase{EACCES, "PermissionDenied"},
        KindCase{EPERM, "PermissionDenied"}, KindCase{ECONNREFUSED, "ConnectionRefused"},
        KindCase{ECONNRESET, "ConnectionReset"}, KindCase{EHOSTUNREACH, "HostUnreachable"},
        KindCase{ENETUNREACH, "NetworkUnreachable"}, KindCase{ECONNABORTED, "ConnectionAborted"},
        KindCase{ENOTCONN, "NotConnected"}, KindCase{EADDRINUSE, "AddrInUse"},
        KindCase{EADDRNOTAVAIL, "AddrNotAvailable"}, KindCase{ENETDOWN, "NetworkDown"},
        KindCase{EPIPE, "BrokenPipe"}, KindCase{EEXIST, "AlreadyExists"},
        KindCase{EAGAIN, "WouldBlock"}, KindCase{EWOULDBLOCK, "WouldBlock"},
        KindCase{ENOTDIR, "NotADirectory"}, KindCase{EISDIR, "IsADirectory"},
        KindCase{ENOTEMPTY, "DirectoryNotEmpty"}, KindCase{EROFS, "ReadOnlyFilesystem"},
        KindCase{ELOOP, "FilesystemLoop"}, KindCase{ESTALE, "StaleNetworkFileHandle"},
        KindCase{EINVAL, "InvalidInput"}, KindCase{ETIMEDOUT, "TimedOut"},
        KindCase{ENOSPC, "StorageFull"}, KindCase{ESPIPE, "NotSeekable"},
        KindCase{EDQUOT, "QuotaExceeded"}, KindCase{EFBIG, "FileTooLarge"},
        KindCase{EBUSY, "ResourceBusy"}, KindCase{ETXTBSY, "ExecutableFileBusy"},
        KindCase{EDEADLK, "Deadlock"}, KindCase{EXDEV, "CrossesDevices"},
        KindCase{EMLINK, "TooManyLinks"}, KindCase{ENAMETOOLONG, "InvalidFilename"},
        KindCase{E2BIG, "ArgumentListTooLong"}, KindCase{EINTR, "Interrupted"},
        KindCase{ENOSYS, "Unsupported"}, KindCase{EOPNOTSUPP, "Unsupported"},
        KindCase{ENOMEM, "OutOfMemory"}, KindCase{EINPROGRESS, "InProgress"},
        KindCase{EMFILE, "TooManyOpenFiles"}, KindCase{ENFILE, "TooManyOpenFiles"},
        KindCase{EIO, "Uncategorized"}, KindCase{ENXIO, "Uncategorized"},
        KindCase{0, "Uncategorized"}, KindCase{-3, "Uncategorized"}));

TEST(IoError, SystemErrorDescriptionAndDisplay) {
  EXPECT_EQ(IoError::system(ENOENT).describe(),
            "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }");
  EXPECT_EQ(IoError::system(EIO).describe(),
            "Os { code: 5, kind: Uncategorized, message: \"Input/output error\" }");
  EXPECT_EQ(IoError::system(ENOSPC).display(), "No space left on device (os error 28)");
  EXPECT_EQ(IoError::system(-7).describe(),
            "Os { code: -7, kind: Uncategorized, message: \"Unknown error -7\" }");
}

TEST(IoError, FixedMessageErrors) {
  EXPECT_EQ(IoError::invalid_data().describe(),
            "Error { kind: InvalidData, message: \"stream did not contain valid UTF-8\" }");
  EXPECT_EQ(IoError::nul_in_path().describe(),
            "Error { kind: InvalidInput, message: \"file name contained an unexpected NUL byte\" }");
  EXPECT_EQ(IoError::write_zero_buffered().display(), "failed to write the buffered data");
  EXPECT_EQ(IoError::write_zero_direct().display(), "failed to write whole buffer");
  EXPECT_EQ(IoError::write_zero_direct().describe(),
            "Error { kind: WriteZero, message: \"failed to write whole buffer\" }");
}

struct LossyCase {
  std::string bytes;
  std::string text;
};

class Utf8Lossy : public ::testing::TestWithParam<LossyCase> {};

TEST_P(Utf8Lossy, ReplacesEachMaximalIllFormedPart) {
  EXPECT_EQ(utf8_lossy(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    IoError, Utf8Lossy,
    ::testing::Values(LossyCase{"plain", "plain"}, LossyCase{"\xC3\xA9", "\xC3\xA9"},
                      LossyCase{"a\xFF" "b", "a\xEF\xBF\xBD" "b"},
                      LossyCase{"\xE2\x82", "\xEF\xBF\xBD"},
                      LossyCase{"\xE2\x82" "A", "\xEF\xBF\xBD" "A"},
                      LossyCase{"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      LossyCase{"\xF0\x9F\x98", "\xEF\xBF\xBD"},
                      LossyCase{"\xC0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"}));

}  // namespace
}  // namespace tarnex

#include "engine/console/OruPipe.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qor::EInOutError;
using qor::TOruPipe;

std::vector<std::uint8_t> bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST(OruPipe, ReadsNoMoreThanIsWaiting) {
    TOruPipe pipe(true);
    std::uint8_t buffer[16];
    std::uint32_t got = 99;
    // Nothing waiting: no read, so nothing blocks.
    EXPECT_FALSE(pipe.ReadData(buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(pipe.ReadBytes(0).empty());
    EXPECT_TRUE(pipe.ReadBytes(5).empty());

    pipe.WriteBytes(bytesOf("0123456789"));
    EXPECT_EQ(pipe.AvailableDataSize(), 10u);
    EXPECT_TRUE(pipe.ReadData(buffer, 3, got));
    EXPECT_EQ(std::string(buffer, buffer + got), "012");
    EXPECT_EQ(pipe.ReadBytes(4), bytesOf("3456"));
    EXPECT_EQ(pipe.ReadBytes(100), bytesOf("789"));  // fewer waiting: all of them
    EXPECT_EQ(pipe.AvailableDataSize(), 0u);

    pipe.WriteBytes(bytesOf("abc"));
    EXPECT_EQ(pipe.ReadBytes(0), bytesOf("abc"));
}

TEST(OruPipe, CopiesStreamsInPieces) {
    std::string data(10000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7);
    }
    TOruPipe pipe(0, false);
    std::istringstream in(data);
    pipe.CopyFromStream(in, 0);
    EXPECT_EQ(pipe.AvailableDataSize(), data.size());

    std::ostringstream first;
    std::ostringstream rest;
    pipe.CopyToStream(first, 5000);
    pipe.CopyToStream(rest, 0);
    EXPECT_EQ(first.str() + rest.str(), data);

    std::istringstream shortStream("abc");
    EXPECT_THROW(pipe.CopyFromStream(shortStream, 10), EInOutError);
    EXPECT_EQ(pipe.AvailableDataSize(), 0u);  // nothing of the short piece was written
}

TEST(OruPipe, WritingAfterTheWriteEndClosedRaises) {
    TOruPipe pipe(true);
    pipe.CloseWriteHandle();
    EXPECT_EQ(pipe.WriteHandle(), 0u);
    pipe.CloseWriteHandle();  // a second close does nothing
    try {
        pipe.WriteBytes(bytesOf("x"));
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "Can't write pipe: handle closed");
    }
    EXPECT_EQ(pipe.AvailableDataSize(), 0u);  // drained and closed reads as empty
}

TEST(OruPipe, CreationFailureCarriesTheSystemText) {
    // Use up every descriptor below a lowered limit so that the pipe cannot get any.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> fds;
    for (int fd = 0; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        fds.push_back(fd);
    }
    // Looked at only after the descriptors are back: the sanitizers need some of their own.
    std::exception_ptr error;
    try {
        TOruPipe pipe(true);
    } catch (...) {
        error = std::current_exception();
    }
    for (const int fd : fds) {
        close(fd);
    }
    setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_TRUE(error);
    std::string message;
    try {
        std::rethrow_exception(error);
    } catch (const EInOutError& e) {
        message = e.what();
    }
    EXPECT_EQ(message, std::string("Can't create pipe: ") + std::strerror(EMFILE));
}

}  // namespace

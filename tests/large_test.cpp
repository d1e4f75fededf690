// A tag past 4 GiB in a sparse file: the offset must come out exact, not wrapped to 32 bits.
#include "run_keldo.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

namespace {

TEST(LargeFile, TagPast4GiBAcrossAChunkEdge)
{
    const std::int64_t at = (std::int64_t{1} << 32) + 4093;
    const std::string path = temp_path("sparse");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "SNDF", 4, at), 4);
    close(fd);
    const run_result r = run_keldo({path});
    unlink(path.c_str());
    // The file ends with the tag, so the block past it reads as zeros.
    EXPECT_EQ(r.out, BANNER + "; px = 4294971393\n" + ZERO_BLOCK);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

} // namespace

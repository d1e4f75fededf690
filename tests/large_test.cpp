// An input of gigabytes: a tag past 4 GiB in a sparse file, whose offset must come out exact, not
// wrapped to 32 bits.
#include "support.h"

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
    ASSERT_EQ(pwrite(fd, "SNDF\x11\x22\x33", 7, at), 7);
    close(fd);
    // The block is read from past 4 GiB too: the sparse start of the file holds only zeros.
    expect_run({"sparse", {path}, BANNER + "; px = 4294971393\n" + WAVE_HEAD + "$11 $22 $33 $00 $00 $00 $00 $00 \n" + ZERO_REST, 0});
    unlink(path.c_str());
}

} // namespace

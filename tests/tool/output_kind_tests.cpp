// What mp.exe does with what it finds at an output's name: a regular file
// is replaced, a character device is written in place, and anything else
// (a folder, a pipe, a socket, a block device) is refused before any work.
// The thing found there, or the link leading to it, is never moved,
// replaced or removed. Device nodes are private ones made with mknod in
// the test's folder, never the system's.
#include "support.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace mptest;

namespace {

enum class Node { Regular, Folder, NullDevice, Fifo, Socket, BlockDevice, Nothing };

struct KindCase {
    const char* name;
    Node node;
    bool through_link;  // the output names a link to the node
    int output;         // 0 the AVI, 1 the timecodes file
    int exit_code;
    const char* message;  // part of stderr; "" for a success
};

void PrintTo(const KindCase& c, std::ostream* os)
{
    *os << c.name;
}

// Makes the node; false when this system will not let the test (mknod
// without the privilege).
bool make_node(Node node, const fs::path& path)
{
    switch (node) {
    case Node::Regular:
        write_file(path, "the user's file");
        return true;
    case Node::Folder:
        fs::create_directory(path);
        write_file(path / "inside.txt", "the user's");
        return true;
    case Node::NullDevice:  // the same device as /dev/null
        return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    case Node::BlockDevice:  // a loop device number; never opened
        return mknod(path.c_str(), S_IFBLK | 0600, makedev(7, 250)) == 0;
    case Node::Fifo:
        return mkfifo(path.c_str(), 0644) == 0;
    case Node::Socket: {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        const bool made = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return made;
    }
    case Node::Nothing:
        return true;
    }
    return false;
}

// What must stay as it was: kind, identity and device number (and a
// folder's content).
struct Identity {
    mode_t mode = 0;
    ino_t inode = 0;
    dev_t device = 0;
    friend bool operator==(const Identity&, const Identity&) = default;
};

Identity identity(const fs::path& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return {};
    return Identity{st.st_mode, st.st_ino, st.st_rdev};
}

class MpOutputKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(MpOutputKinds, NodeKeptAndRunAsExpected)
{
    const KindCase& c = GetParam();
    TempDir dir;
    const fs::path node = dir / "node";
    if (!make_node(c.node, node))
        GTEST_SKIP() << "this system does not let the test make that node: " << std::strerror(errno);
    const fs::path link = dir / "link";
    if (c.through_link)
        fs::create_symlink(node, link);
    const fs::path named = c.through_link ? link : node;
    const Identity node_before = identity(node);

    std::vector<std::string> args{(fixtures() / "h264_bframes.mkv").string(), (dir / "out.avi").string(),
                                  (dir / "out.txt").string()};
    args[1 + c.output] = named.string();
    const RunResult r = run(mp_exe(), args);

    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    if (*c.message) {
        EXPECT_NE(r.err.find(std::string("'") + named.string() + "' " + c.message), std::string::npos) << r.err;
    }
    if (c.through_link) {
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link), node) << "the link still leads where it did";
    }
    if (c.node == Node::Regular || c.node == Node::Nothing) {
        // Replaced or created at the link's end: the new file is there.
        EXPECT_TRUE(fs::is_regular_file(node));
        EXPECT_NE(read_file(node), "the user's file");
    } else {
        EXPECT_EQ(identity(node), node_before) << "the node is as it was";
    }
    if (c.node == Node::Folder) {
        EXPECT_EQ(read_file(node / "inside.txt"), "the user's");
    }
    const fs::path other = dir / (c.output == 0 ? "out.txt" : "out.avi");
    EXPECT_EQ(fs::exists(other), c.exit_code == 0) << "the other output exactly when the run succeeded";
    for (const std::string& name : list_dir(dir.path()))
        EXPECT_FALSE(name.starts_with(".")) << "left behind: " << name;
}

INSTANTIATE_TEST_SUITE_P(
    Targets, MpOutputKinds,
    ::testing::Values(
        KindCase{"RegularFile", Node::Regular, false, 0, 0, ""},
        KindCase{"LinkToRegularFile", Node::Regular, true, 1, 0, ""},
        KindCase{"LinkLeadingNowhereYet", Node::Nothing, true, 0, 0, ""},
        KindCase{"Folder", Node::Folder, false, 1, 2, "is a folder"},
        KindCase{"LinkToFolder", Node::Folder, true, 0, 2, "is a folder"},
        KindCase{"AviToCharacterDevice", Node::NullDevice, false, 0, 0, ""},
        KindCase{"TimecodesToCharacterDevice", Node::NullDevice, false, 1, 0, ""},
        KindCase{"LinkToCharacterDevice", Node::NullDevice, true, 0, 0, ""},
        KindCase{"Fifo", Node::Fifo, false, 1, 2, "is a named pipe (FIFO)"},
        KindCase{"LinkToFifo", Node::Fifo, true, 0, 2, "is a named pipe (FIFO)"},
        KindCase{"Socket", Node::Socket, false, 0, 2, "is a socket"},
        KindCase{"LinkToSocket", Node::Socket, true, 1, 2, "is a socket"},
        KindCase{"BlockDevice", Node::BlockDevice, false, 0, 2, "is a block device"},
        KindCase{"LinkToBlockDevice", Node::BlockDevice, true, 1, 2, "is a block device"}),
    [](const auto& info) { return std::string(info.param.name); });

// Any name the file system takes works as an output name: the hidden
// temporaries have short names of their own.
TEST(MpOutputNames, LongestNameTheFileSystemTakes)
{
    TempDir dir;
    const long longest = pathconf(dir.path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(longest, 8);
    const fs::path avi = dir / (std::string(static_cast<size_t>(longest) - 4, 'a') + ".avi");
    const fs::path times = dir / (std::string(static_cast<size_t>(longest) - 4, 't') + ".txt");
    const RunResult r = run(mp_exe(), {(fixtures() / "h264_bframes.mkv").string(), avi.string(), times.string()});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(avi));
    EXPECT_TRUE(fs::is_regular_file(times));
}

}  // namespace

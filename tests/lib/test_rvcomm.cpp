#include "loopback_peer.h"
#include "rvcomm.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

/* Runs `f` with stdout captured and returns what it printed. */
template <typename F> std::string printed_by(F f)
{
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

bool contains(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

/* The transport registry as the telemetry module sets it up. */
class Registry : public testing::Test {
protected:
    void SetUp() override { printed_by(rvtele_module_init); }
    void TearDown() override { printed_by(rvtele_module_exit); }
};

TEST_F(Registry, LookupMeetsNetworkFirstAndPrintsEveryTableExamined)
{
    rvcomm_ops *ops = nullptr;
    const std::string printed = printed_by([&] { ops = rvcomm_ops_find(RVCOMM_MAGIC_SERIAL); });
    ASSERT_EQ(ops, rvcomm_serial_ops());
    char expected[128];
    std::snprintf(expected, sizeof expected, "rvcomm_ops_find: %p 0x4e\nrvcomm_ops_find: %p 0x53\n",
                  static_cast<void *>(rvcomm_network_ops()),
                  static_cast<void *>(rvcomm_serial_ops()));
    EXPECT_EQ(printed, expected);
}

TEST_F(Registry, RefusesASecondRegistrationAnUnknownMagicAndANameOf127Characters)
{
    const uint32_t refs = rvcomm_network_ops()->refcount;
    std::string printed = printed_by([] {
        EXPECT_EQ(rvcomm_ops_register(RVCOMM_MAGIC_NETWORK, rvcomm_network_ops()), -1);
        EXPECT_EQ(rvcomm_alloc(0x5A, "127.0.0.1", 8899), nullptr);
    });
    EXPECT_TRUE(contains(printed, "Already Register OPS of this magic-code: 78\n")) << printed;
    EXPECT_TRUE(contains(printed, "rvcomm_alloc: didnot find magic_code 0x5a ops\n")) << printed;
    EXPECT_EQ(rvcomm_network_ops()->refcount, refs);

    const std::string longest(126, 'a');
    printed_by([&] {
        rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, longest.c_str(), 8899);
        ASSERT_NE(comm, nullptr);
        EXPECT_EQ(std::string(comm->name), longest);
        rvcomm_free(comm);
    });
    printed = printed_by([] {
        EXPECT_EQ(rvcomm_alloc(RVCOMM_MAGIC_NETWORK, std::string(127, 'a').c_str(), 8899), nullptr);
    });
    EXPECT_EQ(printed, "");
}

TEST_F(Registry, ExitWarnsAboutATransportStillInUseAndStillEmptiesTheRegistry)
{
    rvcomm *comm = nullptr;
    const std::string printed = printed_by([&] {
        comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 8899);
        rvtele_module_exit();
    });
    EXPECT_TRUE(
        contains(printed, "Warning: rvcomm-OPS magic-code:78 has reference. check code.\n"));
    EXPECT_FALSE(contains(printed, "magic-code:83 has reference"));
    printed_by([&] {
        EXPECT_EQ(rvcomm_ops_find(RVCOMM_MAGIC_NETWORK), nullptr);
        rvcomm_free(comm);
    });
    EXPECT_EQ(rvcomm_network_ops()->refcount, 0u);
}

TEST_F(Registry, ClosedHandleNeverTouchesOtherDescriptors)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int stdin_flags = fcntl(0, F_GETFD);
    printed_by([] {
        rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 8899);
        EXPECT_EQ(comm->fd.load(), RVCOMM_CLOSED);
        rvcomm_close(comm);
        rvcomm_close(comm);
        rvcomm_free(comm);
    });
    EXPECT_EQ(fcntl(0, F_GETFD), stdin_flags);
    for (int fd : fds) {
        EXPECT_NE(fcntl(fd, F_GETFD), -1);
        close(fd);
    }
}

int read_when_ready(rvcomm *comm, uint8_t *buf, int len)
{
    if (rvcomm_wait(comm, 2000) != 1)
        return -2;
    return rvcomm_read(comm, buf, len);
}

TEST_F(Registry, NetworkTransportTalksToTheCameraAndDropsOtherSenders)
{
    LoopbackPeer camera;
    LoopbackPeer intruder("127.0.0.2");
    rvcomm *comm = nullptr;
    int opened = -1;
    const std::string printed = printed_by([&] {
        comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", camera.port);
        opened = rvcomm_open(comm);
    });
    ASSERT_EQ(opened, 0);
    EXPECT_TRUE(contains(printed, "rvcomm_network_open: success:"));

    const uint8_t out[3] = {1, 2, 3};
    EXPECT_EQ(rvcomm_write(comm, out, 3), 3);
    EXPECT_EQ(camera.receive(), (Bytes{1, 2, 3}));
    const sockaddr_in link_address = camera.link;

    uint8_t buf[1024];
    EXPECT_EQ(rvcomm_wait(comm, 0), 0);
    intruder.send_to(link_address, Bytes{'f', 'o', 'r', 'g', 'e', 'd'});
    EXPECT_EQ(read_when_ready(comm, buf, sizeof buf), 0);
    camera.send_to(link_address, Bytes{'g', 'e', 'n', 'u', 'i', 'n', 'e'});
    ASSERT_EQ(read_when_ready(comm, buf, sizeof buf), 7);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 7), "genuine");
    EXPECT_EQ(rvcomm_read(comm, buf, sizeof buf), 0); /* nothing more: no blocking */

    EXPECT_EQ(rvcomm_close(comm), 0);
    EXPECT_EQ(comm->fd.load(), RVCOMM_CLOSED);
    EXPECT_EQ(rvcomm_write(comm, out, 3), -1);
    EXPECT_EQ(rvcomm_wait(comm, 0), -1);
    printed_by([&] { rvcomm_free(comm); });
}

/* Opens a transport with `magic`, `name` and `parameter`; expects the open to fail. */
std::string failed_open(uint32_t magic, const char *name, uint32_t parameter)
{
    return printed_by([&] {
        rvcomm *comm = rvcomm_alloc(magic, name, parameter);
        EXPECT_EQ(rvcomm_open(comm), -1) << name;
        EXPECT_EQ(comm->fd.load(), RVCOMM_CLOSED);
        rvcomm_free(comm);
    });
}

/* A pseudo-terminal whose slave side stands in for a serial port. */
struct Pty {
    Pty() : master(posix_openpt(O_RDWR | O_NOCTTY))
    {
        grantpt(master);
        unlockpt(master);
    }
    ~Pty() { close(master); }
    const char *device() const { return ptsname(master); }
    int master;
};

TEST_F(Registry, OpenReportsANameThatIsNoAddressAMissingPortAndAnUnsupportedRate)
{
    EXPECT_TRUE(contains(failed_open(RVCOMM_MAGIC_NETWORK, "camera.local", 8899),
                         "bad camera address camera.local"));
    const std::string printed = failed_open(RVCOMM_MAGIC_SERIAL, "/dev/no-such-port", 115200);
    EXPECT_TRUE(contains(printed, "CreateFile failed with error 2.\n")) << printed;
    EXPECT_TRUE(contains(printed, "Error: rvserial_open create serial failed.\n"));
    Pty pty;
    EXPECT_TRUE(contains(failed_open(RVCOMM_MAGIC_SERIAL, pty.device(), 12345),
                         "Error: rvserial_open create serial failed.\n"));
}

TEST_F(Registry, SerialTransportPassesBinaryBytesUnchanged)
{
    Pty pty;
    ASSERT_GE(pty.master, 0);
    rvcomm *comm = nullptr;
    int opened = -1;
    printed_by([&] {
        comm = rvcomm_alloc(RVCOMM_MAGIC_SERIAL, pty.device(), 115200);
        opened = rvcomm_open(comm);
    });
    ASSERT_EQ(opened, 0);

    /* Carriage returns, line feeds, XON/XOFF and erase characters must pass raw. */
    const std::string bytes("\xEB\x90\r\n\x11\x13\x7F\x03\x00\x04", 10);
    ASSERT_EQ(write(pty.master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    std::string got;
    uint8_t buf[64];
    while (got.size() < bytes.size()) {
        const int n = read_when_ready(comm, buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.append(reinterpret_cast<char *>(buf), static_cast<size_t>(n));
    }
    EXPECT_EQ(got, bytes);

    EXPECT_EQ(rvcomm_write(comm, reinterpret_cast<const uint8_t *>(bytes.data()), 10), 10);
    std::string echoed(10, '\0');
    for (size_t have = 0; have < echoed.size();) {
        const ssize_t n = read(pty.master, echoed.data() + have, echoed.size() - have);
        ASSERT_GT(n, 0);
        have += static_cast<size_t>(n);
    }
    EXPECT_EQ(echoed, bytes);
    printed_by([&] { rvcomm_free(comm); });
}

} // namespace

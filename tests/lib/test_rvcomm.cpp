#include "loopback_peer.h"
#include "rvcomm.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

/* The transport registry as the telemetry module sets it up. */
class Registry : public testing::Test {
protected:
    void SetUp() override
    {
        testing::internal::CaptureStdout();
        rvtele_module_init();
        testing::internal::GetCapturedStdout();
    }
    void TearDown() override
    {
        testing::internal::CaptureStdout();
        rvtele_module_exit();
        testing::internal::GetCapturedStdout();
    }
};

TEST_F(Registry, LookupMeetsNetworkFirstAndPrintsEveryTableExamined)
{
    testing::internal::CaptureStdout();
    rvcomm_ops *ops = rvcomm_ops_find(RVCOMM_MAGIC_SERIAL);
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_EQ(ops, rvcomm_serial_ops());
    char expected[128];
    std::snprintf(expected, sizeof expected, "rvcomm_ops_find: %p 0x4e\nrvcomm_ops_find: %p 0x53\n",
                  static_cast<void *>(rvcomm_network_ops()),
                  static_cast<void *>(rvcomm_serial_ops()));
    EXPECT_EQ(printed, expected);
}

TEST_F(Registry, SecondRegistrationIsRefused)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(rvcomm_ops_register(RVCOMM_MAGIC_NETWORK, rvcomm_network_ops()), -1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Already Register OPS of this magic-code: 78\n"), std::string::npos);
}

TEST_F(Registry, NameOf126CharactersIsAcceptedAnd127Refused)
{
    const std::string longest(126, 'a');
    testing::internal::CaptureStdout();
    rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, longest.c_str(), 8899);
    ASSERT_NE(comm, nullptr);
    EXPECT_EQ(std::string(comm->name), longest);
    rvcomm_free(comm);
    const std::string too_long(127, 'a');
    testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    EXPECT_EQ(rvcomm_alloc(RVCOMM_MAGIC_NETWORK, too_long.c_str(), 8899), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(Registry, UnknownMagicCodeLeavesReferenceCountsAlone)
{
    const uint32_t before = rvcomm_network_ops()->refcount;
    testing::internal::CaptureStdout();
    EXPECT_EQ(rvcomm_alloc(0x5A, "127.0.0.1", 8899), nullptr);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("rvcomm_alloc: didnot find magic_code 0x5a ops\n"), std::string::npos);
    EXPECT_EQ(rvcomm_network_ops()->refcount, before);
}

TEST_F(Registry, ExitWarnsAboutATransportStillInUseAndStillEmptiesTheRegistry)
{
    testing::internal::CaptureStdout();
    rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 8899);
    rvtele_module_exit();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Warning: rvcomm-OPS magic-code:78 has reference. check code.\n"),
              std::string::npos);
    EXPECT_EQ(printed.find("magic-code:83 has reference"), std::string::npos);
    testing::internal::CaptureStdout();
    EXPECT_EQ(rvcomm_ops_find(RVCOMM_MAGIC_NETWORK), nullptr);
    rvcomm_free(comm);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(rvcomm_network_ops()->refcount, 0u);
}

TEST_F(Registry, ClosedHandleNeverTouchesOtherDescriptors)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int stdin_flags = fcntl(0, F_GETFD);
    testing::internal::CaptureStdout();
    rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 8899);
    EXPECT_EQ(comm->fd.load(), RVCOMM_CLOSED);
    rvcomm_close(comm);
    rvcomm_close(comm);
    rvcomm_free(comm);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fcntl(0, F_GETFD), stdin_flags);
    EXPECT_NE(fcntl(fds[0], F_GETFD), -1);
    EXPECT_NE(fcntl(fds[1], F_GETFD), -1);
    close(fds[0]);
    close(fds[1]);
}

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string &text)
{
    return Bytes(text.begin(), text.end());
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
    testing::internal::CaptureStdout();
    rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", camera.port);
    ASSERT_EQ(rvcomm_open(comm), 0);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("rvcomm_network_open: success:"), std::string::npos);

    const uint8_t out[3] = {1, 2, 3};
    EXPECT_EQ(rvcomm_write(comm, out, 3), 3);
    EXPECT_EQ(camera.receive(), (Bytes{1, 2, 3}));
    const sockaddr_in link_address = camera.link;

    uint8_t buf[1024];
    EXPECT_EQ(rvcomm_wait(comm, 0), 0);
    intruder.send_to(link_address, bytes_of("forged"));
    EXPECT_EQ(read_when_ready(comm, buf, sizeof buf), 0);
    camera.send_to(link_address, bytes_of("genuine"));
    ASSERT_EQ(read_when_ready(comm, buf, sizeof buf), 7);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 7), "genuine");
    EXPECT_EQ(rvcomm_read(comm, buf, sizeof buf), 0); /* nothing more: no blocking */

    EXPECT_EQ(rvcomm_close(comm), 0);
    EXPECT_EQ(comm->fd.load(), RVCOMM_CLOSED);
    EXPECT_EQ(rvcomm_write(comm, out, 3), -1);
    EXPECT_EQ(rvcomm_wait(comm, 0), -1);
    testing::internal::CaptureStdout();
    rvcomm_free(comm);
    testing::internal::GetCapturedStdout();
}

TEST_F(Registry, NetworkTransportRefusesANameThatIsNoAddress)
{
    testing::internal::CaptureStdout();
    rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, "camera.local", 8899);
    EXPECT_EQ(rvcomm_open(comm), -1);
    rvcomm_free(comm);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("bad camera address camera.local"), std::string::npos);
}

TEST_F(Registry, SerialTransportPassesBinaryBytesUnchanged)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string device = ptsname(master);

    testing::internal::CaptureStdout();
    rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_SERIAL, device.c_str(), 115200);
    ASSERT_EQ(rvcomm_open(comm), 0);
    testing::internal::GetCapturedStdout();

    /* Carriage returns, line feeds, XON/XOFF and erase characters must pass raw. */
    const std::string bytes("\xEB\x90\r\n\x11\x13\x7F\x03\x00\x04", 10);
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
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
    size_t have = 0;
    while (have < echoed.size()) {
        const ssize_t n = read(master, echoed.data() + have, echoed.size() - have);
        ASSERT_GT(n, 0);
        have += static_cast<size_t>(n);
    }
    EXPECT_EQ(echoed, bytes);

    testing::internal::CaptureStdout();
    rvcomm_free(comm);
    testing::internal::GetCapturedStdout();
    close(master);
}

TEST_F(Registry, SerialTransportReportsAMissingPortAndAnUnsupportedRate)
{
    testing::internal::CaptureStdout();
    rvcomm *missing = rvcomm_alloc(RVCOMM_MAGIC_SERIAL, "/dev/no-such-port", 115200);
    EXPECT_EQ(rvcomm_open(missing), -1);
    rvcomm_free(missing);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("CreateFile failed with error 2.\n"), std::string::npos);
    EXPECT_NE(printed.find("Error: rvserial_open create serial failed.\n"), std::string::npos);

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    testing::internal::CaptureStdout();
    rvcomm *odd = rvcomm_alloc(RVCOMM_MAGIC_SERIAL, ptsname(master), 12345);
    EXPECT_EQ(rvcomm_open(odd), -1);
    EXPECT_EQ(odd->fd.load(), RVCOMM_CLOSED);
    rvcomm_free(odd);
    printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Error: rvserial_open create serial failed.\n"), std::string::npos);
    close(master);
}

} // namespace

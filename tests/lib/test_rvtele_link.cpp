/* The telemetry link, and the transport registry with its network and serial transports. */
#include "fixtures.h"
#include "rvcomm.h"
#include "rvtele_internal.h"
#include "tavrin/tavrin.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

struct Counter {
    std::atomic<int> frames{0};
    std::atomic<int> last_tag{-1};
};

/* Counts the frame and keeps its byte 4. */
int count_frame(void *context, const uint8_t *frame, int)
{
    auto *counter = static_cast<Counter *>(context);
    counter->last_tag.store(frame[4], std::memory_order_relaxed);
    counter->frames.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

using Link = LinkTest;

TEST_F(Link, StartsGreetingOnceStopsPromptlyAndStartsAgainToDeliverFrames)
{
    Counter status;
    Counter loader;
    ASSERT_EQ(register_rvtele_processer(link, 'C', count_frame, &status), 0);
    ASSERT_EQ(register_rvtele_processer_v2(link, 0xF1, count_frame, &loader), 0);
    Bytes hello(36, 0); /* a command frame with an empty content */
    hello[0] = 0xEB, hello[1] = 0x90, hello[2] = 0x24, hello[35] = 0x61;
    ASSERT_EQ(receive_threads(), 0);
    ASSERT_EQ(rvtele_start(link), 0);
    EXPECT_EQ(camera.receive(), hello);
    EXPECT_EQ(link->loader_status, 0u);
    EXPECT_EQ(receive_threads(), 1);
    EXPECT_EQ(rvtele_start(link), 0); /* already started: no second thread */
    EXPECT_EQ(receive_threads(), 1);

    const auto before = std::chrono::steady_clock::now(); /* nothing ever arrived */
    ASSERT_EQ(rvtele_stop(link), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(receive_threads(), 0);
    EXPECT_EQ(rvtele_stop(link), 0); /* harmless twice */

    ASSERT_EQ(rvtele_start(link), 0);
    EXPECT_FALSE(camera.receive().empty()); /* greeted again, from a new socket */
    /* One datagram with two frames and garbage between, then one frame in two datagrams. */
    Bytes datagram = command('C', {1});
    datagram.insert(datagram.end(), {0x00, 0xEB, 0x11});
    const Bytes to_loader = addressed(0xF1);
    datagram.insert(datagram.end(), to_loader.begin(), to_loader.end());
    camera.send(datagram);
    const Bytes split = command('C', {2});
    camera.send(Bytes(split.begin(), split.begin() + 10));
    camera.send(Bytes(split.begin() + 10, split.end()));

    EXPECT_TRUE(wait_until([&] { return status.frames >= 2; }));
    EXPECT_TRUE(wait_until([&] { return loader.frames >= 1; }));
    EXPECT_EQ(status.last_tag.load(), 2);
}

TEST_F(Link, ProcessorsComeAndGoWhileFramesFlow)
{
    Counter counter;
    start_link();
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        const Bytes frame = addressed(0x33);
        while (sending.load()) {
            camera.send(frame);
            std::this_thread::sleep_for(100us);
        }
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(register_rvtele_processer_v2(link, 0x33, count_frame, &counter), 0);
        std::this_thread::sleep_for(1ms);
        ASSERT_EQ(unregister_rvtele_processer_v2(link, 0x33), 1);
    }
    /* Once removal has returned, the callback never runs again. */
    const int seen = counter.frames.load();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(counter.frames.load(), seen);
    sending.store(false);
    sender.join();
    EXPECT_GT(seen, 0);
}

TEST_F(Link, RecordOutlivesFreeWhileAHolderRemains)
{
    rvtele_ref(link); /* as a camera handle does */
    Counter counter;
    register_rvtele_processer(link, 'A', count_frame, &counter);
    EXPECT_EQ(rvtele_start(link), 0);
    EXPECT_EQ(rvtele_free(link), 0);
    EXPECT_EQ(link->comm, nullptr);
    EXPECT_EQ(rvtele_free(link), -1); /* a second free is refused while the record lives */
    EXPECT_EQ(rvtele_start(link), -1);
    EXPECT_EQ(unregister_rvtele_processer(link, 'A'), 1);
    EXPECT_EQ(rvtele_send(link, reinterpret_cast<const uint8_t *>("x"), 1), -1);
    rvtele_unref(link); /* the last holder releases the record */
    link = nullptr;
}

TEST_F(Link, MissingHandlesCallbacksAndUnusableTransportsAreRefused)
{
    const auto *x = reinterpret_cast<const uint8_t *>("x");
    for (int refused : {rvtele_free(nullptr), rvtele_start(nullptr), rvtele_stop(nullptr),
                        register_rvtele_processer_v2(nullptr, 1, count_frame, nullptr),
                        unregister_rvtele_processer_v2(nullptr, 1), rvtele_send(nullptr, x, 1),
                        register_rvtele_processer_v2(link, 1, nullptr, nullptr),
                        unregister_rvtele_processer_v2(link, 1) /* none registered */,
                        rvtele_send(link, nullptr, 1)})
        EXPECT_EQ(refused, -1);
    EXPECT_EQ(rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 9, 0), nullptr);
    EXPECT_EQ(rvtele_alloc(0x41, "127.0.0.1", 9, 64), nullptr);
    rvtele_t *bad = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "not-an-address", 8899, 64);
    EXPECT_EQ(rvtele_start(bad), -1);
    EXPECT_EQ(rvtele_stop(bad), 0);
    EXPECT_EQ(rvtele_free(bad), 0);
    const std::string text = printed();
    EXPECT_TRUE(contains(text, "Error: rvtele_alloc alloc rvcomm error. magic_code:0x41\n"));
    EXPECT_TRUE(contains(text, "RV-Tele-Start Open Comm Error.\n"));
}

/* What rvtele_stop answered a processor stopping its own link (its context). */
std::atomic<int> stopped{1};

int stop_own_link(void *context, const uint8_t *, int)
{
    stopped.store(rvtele_stop(static_cast<rvtele_t *>(context)));
    return 0;
}

TEST_F(Link, StopFromAProcessorIsRefusedInsteadOfDeadlocking)
{
    register_rvtele_processer(link, 'C', stop_own_link, link);
    start_link();
    camera.send(command('C'));
    EXPECT_TRUE(wait_until([] { return stopped != 1; }));
    EXPECT_EQ(stopped.load(), -1);
}

/* What a read gets once the transport has input; -2 when none came within two seconds. */
int read_when_ready(rvcomm *comm, uint8_t *buf, int len)
{
    return rvcomm_wait(comm, 2000) == 1 ? rvcomm_read(comm, buf, len) : -2;
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

/* The transport registry as the telemetry module sets it up; what is printed is captured. */
class Registry : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        rvtele_module_init();
        printed();
    }
    void TearDown() override
    {
        rvtele_module_exit();
        ScratchTest::TearDown();
    }

    /* Opens a transport with `magic`, `name` and `parameter`, which must fail; what it printed. */
    std::string failed_open(uint32_t magic, const char *name, uint32_t parameter)
    {
        rvcomm *comm = rvcomm_alloc(magic, name, parameter);
        EXPECT_EQ(rvcomm_open(comm), -1) << name;
        EXPECT_EQ(comm->fd.load(), RVCOMM_CLOSED);
        rvcomm_free(comm);
        return printed();
    }
};

TEST_F(Registry, RefusesASecondRegistrationAnUnknownMagicAndANameOf127Characters)
{
    const uint32_t refs = rvcomm_network_ops()->refcount;
    EXPECT_EQ(rvcomm_ops_register(RVCOMM_MAGIC_NETWORK, rvcomm_network_ops()), -1);
    EXPECT_EQ(rvcomm_alloc(0x5A, "127.0.0.1", 8899), nullptr);
    const std::string text = printed();
    EXPECT_TRUE(contains(text, "Already Register OPS of this magic-code: 78\n")) << text;
    EXPECT_TRUE(contains(text, "rvcomm_alloc: didnot find magic_code 0x5a ops\n")) << text;
    EXPECT_EQ(rvcomm_network_ops()->refcount, refs);

    const std::string longest(126, 'a');
    rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, longest.c_str(), 8899);
    ASSERT_NE(comm, nullptr);
    EXPECT_EQ(std::string(comm->name), longest);
    rvcomm_free(comm);
    printed();
    EXPECT_EQ(rvcomm_alloc(RVCOMM_MAGIC_NETWORK, std::string(127, 'a').c_str(), 8899), nullptr);
    EXPECT_EQ(printed(), "");
}

TEST_F(Registry, ExitWarnsAboutATransportStillInUseAndStillEmptiesTheRegistry)
{
    rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 8899);
    rvtele_module_exit();
    const std::string text = printed();
    EXPECT_TRUE(contains(text, "Warning: rvcomm-OPS magic-code:78 has reference. check code.\n"));
    EXPECT_FALSE(contains(text, "magic-code:83 has reference"));
    EXPECT_EQ(rvcomm_ops_find(RVCOMM_MAGIC_NETWORK), nullptr);
    rvcomm_free(comm);
    EXPECT_EQ(rvcomm_network_ops()->refcount, 0u);
}

/* No capture runs while the pipe is made, so that it gets the lowest free descriptors. */
TEST(Transport, ClosedHandleNeverTouchesOtherDescriptors)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int stdin_flags = fcntl(0, F_GETFD);
    stdout_of([] {
        rvtele_module_init();
        rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", 8899);
        EXPECT_EQ(comm->fd.load(), RVCOMM_CLOSED);
        rvcomm_close(comm);
        rvcomm_close(comm);
        rvcomm_free(comm);
        rvtele_module_exit();
    });
    EXPECT_EQ(fcntl(0, F_GETFD), stdin_flags);
    for (int fd : fds) {
        EXPECT_NE(fcntl(fd, F_GETFD), -1);
        close(fd);
    }
}

TEST_F(Registry, NetworkTransportTalksToTheCameraAndDropsOtherSenders)
{
    LoopbackPeer camera;
    LoopbackPeer intruder("127.0.0.2");
    rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", camera.port);
    ASSERT_EQ(rvcomm_open(comm), 0);
    EXPECT_TRUE(contains(printed(), "rvcomm_network_open: success:"));

    const uint8_t out[3] = {1, 2, 3};
    EXPECT_EQ(rvcomm_write(comm, out, 3), 3);
    EXPECT_EQ(camera.receive(), (std::vector<uint8_t>{1, 2, 3}));
    const sockaddr_in link_address = camera.link;

    uint8_t buf[1024];
    EXPECT_EQ(rvcomm_wait(comm, 0), 0);
    intruder.send_to(link_address, {'f', 'o', 'r', 'g', 'e', 'd'});
    EXPECT_EQ(read_when_ready(comm, buf, sizeof buf), 0);
    camera.send_to(link_address, {'g', 'e', 'n', 'u', 'i', 'n', 'e'});
    ASSERT_EQ(read_when_ready(comm, buf, sizeof buf), 7);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 7), "genuine");
    EXPECT_EQ(rvcomm_read(comm, buf, sizeof buf), 0); /* nothing more: no blocking */

    EXPECT_EQ(rvcomm_close(comm), 0);
    EXPECT_EQ(comm->fd.load(), RVCOMM_CLOSED);
    EXPECT_EQ(rvcomm_write(comm, out, 3), -1);
    EXPECT_EQ(rvcomm_wait(comm, 0), -1);
    rvcomm_free(comm);
}

TEST_F(Registry, OpenReportsANameThatIsNoAddressAMissingPortAndAnUnsupportedRate)
{
    EXPECT_TRUE(contains(failed_open(RVCOMM_MAGIC_NETWORK, "camera.local", 8899),
                         "bad camera address camera.local"));
    const std::string text = failed_open(RVCOMM_MAGIC_SERIAL, "/dev/no-such-port", 115200);
    EXPECT_TRUE(contains(text, "CreateFile failed with error 2.\n")) << text;
    EXPECT_TRUE(contains(text, "Error: rvserial_open create serial failed.\n"));
    Pty pty;
    EXPECT_TRUE(contains(failed_open(RVCOMM_MAGIC_SERIAL, pty.device(), 12345),
                         "Error: rvserial_open create serial failed.\n"));
}

TEST_F(Registry, SerialTransportPassesBinaryBytesUnchanged)
{
    Pty pty;
    ASSERT_GE(pty.master, 0);
    rvcomm *comm = rvcomm_alloc(RVCOMM_MAGIC_SERIAL, pty.device(), 115200);
    ASSERT_EQ(rvcomm_open(comm), 0);

    /* Carriage returns, line feeds, XON/XOFF and erase characters must pass raw. */
    const std::string bytes("\xEB\x90\r\n\x11\x13\x7F\x03\x00\x04", 10);
    ASSERT_EQ(::write(pty.master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
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
    rvcomm_free(comm);
}

} // namespace

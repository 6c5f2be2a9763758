/* Fixtures of the library tests: a scratch folder with captured output, a camera link, frames. */
#ifndef TESTS_LIB_FIXTURES_H
#define TESTS_LIB_FIXTURES_H

#include "loopback_peer.h"
#include "rvtele_frame.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

/* What `f` printed to stdout. */
template <typename F> std::string stdout_of(F f)
{
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

inline bool contains(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

/* Polls `condition` for up to ten seconds; whether it came true. */
template <typename Condition> bool wait_until(Condition condition)
{
    for (int i = 0; i < 5000 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return condition();
}

/* The contents of a file, as text or as bytes. */
template <typename T = std::string> T slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return T(std::istreambuf_iterator<char>(in), {});
}

/*
 * A test with its own temporary folder and the library's stdout and stderr captured throughout;
 * what was printed is shown when the test fails or a sanitizer reported something.
 */
class ScratchTest : public testing::Test {
protected:
    void SetUp() override
    {
        capture();
        char name[] = "/tmp/tavrin-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override
    {
        printed(false);
        if (HasFailure() || output_.find("Sanitizer") != std::string::npos)
            std::cout << output_;
        std::filesystem::remove_all(dir_);
    }

    /* What was printed since the last call; capturing goes on unless `again` is false. */
    std::string printed(bool again = true)
    {
        const std::string text =
            testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        if (again)
            capture();
        output_ += text;
        return text;
    }
    std::string path(const std::string &name) const { return (dir_ / name).string(); }
    /* Writes `bytes` as file `name` of the folder and returns its path. */
    std::string write(const std::string &name, const Bytes &bytes) const
    {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path(name);
    }

    std::filesystem::path dir_;

private:
    static void capture()
    {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    std::string output_; /* everything printed during the test */
};

/* A link to a UDP socket on loopback standing in for the camera; start_link() starts it. */
class LinkTest : public ScratchTest {
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        rvtele_module_init();
        link = rvtele_alloc(RVCOMM_MAGIC_NETWORK, "127.0.0.1", camera.port, TAVRIN_RING_CAPACITY);
        ASSERT_NE(link, nullptr);
    }
    void TearDown() override
    {
        rvtele_free(link);
        rvtele_module_exit();
        ScratchTest::TearDown();
    }
    /* Starts the link; the camera has had its hello then. */
    void start_link()
    {
        ASSERT_EQ(rvtele_start(link), 0);
        ASSERT_EQ(camera.receive().size(), 36u) << "no hello from the link";
    }

    LoopbackPeer camera;
    rvtele_t *link = nullptr;
};

/* `n` bytes that repeat no run of 256, so that a piece shows where it came from. */
inline Bytes pattern(size_t n)
{
    Bytes out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
    return out;
}

/* Write `value` big-endian into `width` bytes at `at`. */
inline void put_be(Bytes &f, size_t at, uint32_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        f[at + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

/* A sealed command frame of `length` bytes with `letter` in byte 3 and, from byte 4, `body`. */
inline Bytes command(uint8_t letter, const Bytes &body = {}, size_t length = 36)
{
    Bytes f(length, 0);
    rvtele_command_frame_init(f.data(), static_cast<uint8_t>(length));
    f[3] = letter;
    std::copy(body.begin(), body.end(), f.begin() + 4);
    rvtele_frame_seal(f.data());
    return f;
}

/* A sealed addressed frame: message id `msg_id` in byte 7, byte 8 zero, `payload` from byte 9. */
inline Bytes addressed(uint8_t msg_id, const Bytes &payload = {0}, uint16_t src = 0,
                       uint16_t dst = 0)
{
    Bytes f(payload.size() + 10, 0);
    rvtele_addressed_frame_init(f.data(), static_cast<uint32_t>(payload.size()), src, dst);
    f[7] = msg_id;
    std::copy(payload.begin(), payload.end(), f.begin() + 9);
    rvtele_frame_seal(f.data());
    return f;
}

/* A record as the camera stores it, before encoding into a frame. */
struct Record {
    int16_t id = 1;
    uint16_t pitch = 0, roll = 0, heading = 0;
    int32_t lon = 0, lat = 0, alt = 0;
    int16_t speed = 0;
    uint16_t psi = 0;                 /* 'Q': hundredths of a degree */
    int32_t psi_o = 0;                /* 'O': 1/128 degree */
    std::array<uint8_t, 6> time = {}; /* calendar, or seconds (big-endian) and ms (little) */
    uint8_t time_type = 0;
    int32_t offsets[5] = {};
    uint8_t length = 52;
};

/* The fields of `r` from `at` on, in the order both record frames share. */
inline void put_position(Bytes &f, size_t at, const Record &r)
{
    put_be(f, at, static_cast<uint16_t>(r.id), 2);
    put_be(f, at + 2, r.pitch, 2);
    put_be(f, at + 4, r.roll, 2);
    put_be(f, at + 6, r.heading, 2);
    put_be(f, at + 8, static_cast<uint32_t>(r.lon), 4);
    put_be(f, at + 12, static_cast<uint32_t>(r.lat), 4);
    put_be(f, at + 16, static_cast<uint32_t>(r.alt), 4);
}

inline Bytes o_frame(const Record &r)
{
    Bytes f = command('O');
    put_position(f, 4, r);
    put_be(f, 24, static_cast<uint32_t>(r.psi_o), 4);
    std::copy(r.time.begin(), r.time.end(), f.begin() + 28);
    f[34] = r.time_type;
    rvtele_frame_seal(f.data());
    return f;
}

inline Bytes q_frame(const Record &r, uint32_t offset = 0)
{
    Bytes f = command('Q', {}, 61);
    put_be(f, 4, offset, 4);
    f[8] = r.length;
    put_position(f, 9, r);
    put_be(f, 29, static_cast<uint16_t>(r.speed), 2);
    put_be(f, 31, r.psi, 2);
    std::copy(r.time.begin(), r.time.end(), f.begin() + 33);
    f[39] = r.time_type;
    for (int i = 0; i < 5; ++i)
        put_be(f, 40 + 4 * i, static_cast<uint32_t>(r.offsets[i]), 4);
    rvtele_frame_seal(f.data());
    return f;
}

#endif

/* Fixtures of the library tests: a scratch folder with captured output, and a camera link. */
#ifndef TESTS_LIB_FIXTURES_H
#define TESTS_LIB_FIXTURES_H

#include "loopback_peer.h"
#include "tavrin/tavrin.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

/*
 * A test with its own temporary folder and with the library's stdout and
 * stderr captured throughout; what was printed is shown when the test fails
 * or a sanitizer reported something.
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
    std::string write(const std::string &name, const std::vector<uint8_t> &bytes) const
    {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path(name);
    }
    static std::vector<uint8_t> read(const std::string &file)
    {
        std::ifstream in(file, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
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

#endif

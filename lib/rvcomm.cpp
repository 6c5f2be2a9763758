#include "rvcomm.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <poll.h>

namespace {

/* Registry ring with a sentinel head; newest table first. */
rvcomm_ops registry_head = {nullptr, nullptr,        nullptr,        nullptr,
                            0,       &registry_head, &registry_head, 0};
std::mutex registry_lock;

rvcomm_ops *find_locked(uint32_t magic_code)
{
    for (rvcomm_ops *ops = registry_head.next; ops != &registry_head; ops = ops->next) {
        printf("rvcomm_ops_find: %p 0x%x\n", static_cast<void *>(ops), ops->magic_code);
        if (ops->magic_code == magic_code)
            return ops;
    }
    return nullptr;
}

} // namespace

int rvcomm_ops_register(uint32_t magic_code, rvcomm_ops *ops)
{
    std::lock_guard<std::mutex> guard(registry_lock);
    if (find_locked(magic_code)) {
        printf("Already Register OPS of this magic-code: %d\n", static_cast<int>(magic_code));
        return -1;
    }
    ops->magic_code = magic_code;
    ops->next = registry_head.next;
    ops->prev = &registry_head;
    registry_head.next->prev = ops;
    registry_head.next = ops;
    return 0;
}

rvcomm_ops *rvcomm_ops_find(uint32_t magic_code)
{
    std::lock_guard<std::mutex> guard(registry_lock);
    return find_locked(magic_code);
}

void rvcomm_ops_clear()
{
    std::lock_guard<std::mutex> guard(registry_lock);
    while (registry_head.next != &registry_head) {
        rvcomm_ops *ops = registry_head.next;
        if (ops->refcount != 0)
            printf("Warning: rvcomm-OPS magic-code:%d has reference. check code.\n",
                   static_cast<int>(ops->magic_code));
        registry_head.next = ops->next;
        ops->next->prev = &registry_head;
        ops->next = ops->prev = nullptr;
    }
}

rvcomm *rvcomm_alloc(uint32_t magic_code, const char *name, uint32_t parameter)
{
    if (!name || std::strlen(name) >= 127)
        return nullptr;
    std::lock_guard<std::mutex> guard(registry_lock);
    rvcomm_ops *ops = find_locked(magic_code);
    if (!ops) {
        printf("rvcomm_alloc: didnot find magic_code 0x%x ops\n", magic_code);
        return nullptr;
    }
    auto *comm = new (std::nothrow) rvcomm;
    if (!comm) {
        printf("Error: rvcomm_alloc: Out Of Memory.\n");
        return nullptr;
    }
    comm->magic_code = magic_code;
    comm->ops = ops;
    comm->parameter = parameter;
    std::memset(comm->name, 0, sizeof comm->name);
    std::strcpy(comm->name, name);
    ops->refcount++;
    return comm;
}

int rvcomm_free(rvcomm *comm)
{
    printf("rvcomm_free: rvcomm %p\n", static_cast<void *>(comm));
    if (!comm)
        return -1;
    printf("rvcomm_free: magic-code:0x%x handle:%d\n", comm->magic_code, comm->fd.load());
    if (comm->fd.load() != RVCOMM_CLOSED && comm->ops->close)
        comm->ops->close(comm);
    {
        std::lock_guard<std::mutex> guard(registry_lock);
        if (comm->ops->refcount > 0)
            comm->ops->refcount--;
    }
    delete comm;
    return 0;
}

int rvcomm_open(rvcomm *comm)
{
    if (!comm || !comm->ops || !comm->ops->open)
        return -1;
    return comm->ops->open(comm);
}

int rvcomm_close(rvcomm *comm)
{
    if (!comm || !comm->ops || !comm->ops->close)
        return -1;
    return comm->ops->close(comm);
}

int rvcomm_read(rvcomm *comm, uint8_t *buf, int len)
{
    if (!comm || !comm->ops || !comm->ops->read)
        return -1;
    return comm->ops->read(comm, buf, len);
}

int rvcomm_write(rvcomm *comm, const uint8_t *buf, int len)
{
    if (!comm || !comm->ops || !comm->ops->write)
        return -1;
    return comm->ops->write(comm, buf, len);
}

int rvcomm_wait(rvcomm *comm, int timeout_ms)
{
    if (!comm)
        return -1;
    const int fd = comm->fd.load();
    if (fd == RVCOMM_CLOSED)
        return -1;
    pollfd pfd = {fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, timeout_ms);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    if (ready == 0)
        return 0;
    if (pfd.revents & POLLIN)
        return 1;
    return -1; /* hang-up, error or a descriptor closed under us */
}

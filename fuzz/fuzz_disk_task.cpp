/*
 * A lens's task file ("center.log" in the data folder: the 1,888-byte task header and the
 * 260-byte entries of the card's files) loaded as a resumed transfer loads it
 * (disk_task_load), with zip volumes on so that the volume fields are taken too.
 *
 * Invariants: a loaded task lists as many files as its header says, each entry and the
 * volume fields NUL-terminated, and has not done more files than it lists.
 */
#include "FuzzSupport.h"
#include "dataservice/DiskTask.h"

#include <cstring>

namespace {

bool terminated(const char *text, size_t size)
{
    return std::memchr(text, '\0', size) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = fuzz::scratchPath("center.log");
    fuzz::writeFile(path, data, size);

    DiskTask task;
    FUZZ_CHECK(disk_task_set_text(task.record.task_file, QString::fromStdString(path)));
    task.record.split = 1;
    QString error;
    if (!disk_task_load(&task, &error)) {
        FUZZ_CHECK(!task.run && !error.isEmpty());
        return 0;
    }
    const disk_task_t &record = task.record;
    FUZZ_CHECK(task.run);
    FUZZ_CHECK(record.file_num >= 0 && task.run->files.size() == size_t(record.file_num));
    FUZZ_CHECK(task.run->photoIndex.size() == task.run->files.size());
    FUZZ_CHECK(record.next_index >= 0 && record.next_index <= record.file_num);
    for (const file_info_t &entry : task.run->files)
        FUZZ_CHECK(terminated(entry.path, sizeof entry.path));
    FUZZ_CHECK(terminated(record.volume_path, sizeof record.volume_path));
    FUZZ_CHECK(terminated(record.volume_name, sizeof record.volume_name));
    return 0;
}

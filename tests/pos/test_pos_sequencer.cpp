/* The POS download sequencer against the library's transfer manager, frames fed by hand. */
#include "fixtures.h"
#include "pos/PosSequencer.h"
#include "posfile_internal.h"

namespace {

class Sequencer : public LinkTest {};

/*
 * The receive thread may take a file's last record and the camera's end marker while a tick
 * runs (here: while it reports progress). The file is whole: the tick must not judge it on the
 * count it read before them and call it short.
 */
TEST_F(Sequencer, FileEndedDuringATickIsWhole)
{
    posfile_manager_t *mgr = posfile_manager_init(link);
    start_link();
    const auto feed = [mgr](const Bytes &f) { posfile_handle_frame(mgr, f.data(), int(f.size())); };
    const auto record = [](uint32_t at) { return q_frame({.length = 32}, at); };
    Bytes entry(31, 0); /* file 1: two 32-byte records */
    entry[0] = 1;
    put_be(entry, 15, 2 * 32, 4);

    PosSequencer sequencer;
    sequencer.setLink(mgr, nullptr);
    sequencer.setFirmware(4.41); /* the camera ends each file with its marker */
    sequencer.setRecordSize(32);
    sequencer.startListing();
    feed(command('P', entry));
    while (sequencer.isListing())
        sequencer.tick();

    bool finished = false, failed = false, ended = false;
    QObject::connect(&sequencer, &PosSequencer::downloadFinished, [&] { finished = true; });
    QObject::connect(&sequencer, &PosSequencer::downloadFailed, [&] { failed = true; });
    QObject::connect(&sequencer, &PosSequencer::progressChanged, [&](int percent) {
        if (percent == 50 && !std::exchange(ended, true)) {
            feed(record(32));
            feed(command('P', {POSFILE_END_MARKER}));
        }
    });
    ASSERT_TRUE(sequencer.startDownload({0}, QString::fromStdString(path("pos.xls")), false));
    sequencer.tick(); /* asks for the file */
    feed(record(0));
    for (int i = 0; i < 100 && !finished && !failed; ++i)
        sequencer.tick();
    EXPECT_TRUE(ended && finished && !failed);
    const std::string table = slurp(path("pos.xls"));
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3); /* the header and two rows */
    posfile_manager_exit(mgr);
}

} // namespace

/*
 * The seed inputs of the fuzz targets, made by the writers whose output each parser reads:
 * the simulated camera's frames (q7sim), the POS table export, the geotagger, the offload
 * worker's task file, the offload record writer, Taskconfig.xml and the firmware layout.
 *
 *   fuzz_seeds OUTPUT_FOLDER [SOURCE_FOLDER]
 *
 * writes OUTPUT_FOLDER/<target>/seed-<name> for every target; SOURCE_FOLDER (the project's
 * root) gives the UpdateConfig.xml that ships. Every seed is a few KB at most.
 */
#include "dataservice/DiskTask.h"
#include "dataservice/Geotagger.h"
#include "dataservice/OffloadRecord.h"
#include "dataservice/TaskConfig.h"
#include "pos/PosRules.h"
#include "pos/UsbPosExport.h"
#include "sim_camera.h"
#include "sim_loader.h"
#include "sim_posstore.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>
#include <exiv2/exiv2.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

using q7sim::Bytes;

QString g_output;

[[noreturn]] void fail(const QString &what)
{
    std::fprintf(stderr, "fuzz_seeds: %s\n", qPrintable(what));
    std::exit(1);
}

void seed(const char *target, const char *name, const QByteArray &bytes)
{
    const QString folder = g_output + QLatin1Char('/') + QLatin1String(target);
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/seed-") + QLatin1String(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write %1").arg(file.fileName()));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1").arg(path));
    return file.readAll();
}

void append(QByteArray &out, const Bytes &frame)
{
    out.append(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size()));
}

void append(QByteArray &out, const std::vector<Bytes> &frames)
{
    for (const Bytes &frame : frames)
        append(out, frame);
}

/* ---- the link: byte 0 the datagram size step, byte 1 the download set-up ---- */

QByteArray linkInput(uint8_t datagramStep, uint8_t setup)
{
    return QByteArray() + char(datagramStep) + char(setup);
}

/* A POS store whose serial number implies `recordSize`-byte records. */
q7sim::PosStore posStore(int recordSize)
{
    q7sim::Options options;
    options.serial = recordSize == 52 ? "Q7X4160800012345" : "Q7A160800012345";
    return q7sim::PosStore(options);
}

void linkSeeds()
{
    q7sim::Options options;
    options.faulty_cameras = 0x05;
    q7sim::Camera camera(options);
    camera.advance(30);

    QByteArray status = linkInput(255, 0x16);
    append(status, camera.identity_frame());
    append(status, camera.release_date_frame());
    append(status, camera.status_frames());
    seed("rvtele_frame", "status-round", status);

    /* The same round in datagrams of 9 bytes, frames split across them. */
    QByteArray split = status;
    split[0] = char(2);
    seed("rvtele_frame", "status-split", split);

    /* Older firmware, without the cameras' own state byte. */
    options.version_major = 3;
    options.version_minor = 31;
    q7sim::Camera old(options);
    QByteArray older = linkInput(255, 0);
    append(older, old.identity_frame());
    append(older, old.status_frame());
    append(older, old.position_frame());
    seed("rvtele_frame", "status-old-firmware", older);

    /* Garbage between frames and a frame with a wrong checksum, as the simulator's faults. */
    QByteArray damaged = linkInput(255, 0);
    damaged += QByteArray("\x00\xEB\x17\x90\xEB", 5);
    Bytes corrupt = camera.config_frame();
    corrupt.back() ^= 0x5A;
    append(damaged, corrupt);
    damaged += QByteArray("\xEB\x90\x02", 3);
    append(damaged, camera.position_frame());
    seed("rvtele_frame", "garbage-and-corrupt", damaged);

    /* A listing and an offset-tagged download of 52-byte records, in order and repaired. */
    q7sim::PosStore store = posStore(52);
    QByteArray listing = linkInput(255, 0x16);
    for (int number = 1; number <= 3; ++number)
        append(listing, store.entry_frame(*store.file(number)));
    append(listing, q7sim::PosStore::end_marker());
    seed("rvtele_frame", "pos-listing", listing);

    const q7sim::PosFile &file = *store.file(1);
    QByteArray offsets = linkInput(255, 0x16);
    QByteArray repaired = linkInput(255, 0x1E);
    for (size_t k = 0; k < 8 && k < file.records.size(); ++k) {
        const uint32_t at = uint32_t(k * 52);
        append(offsets, q7sim::PosStore::offset_record_frame(at, file.records[k]));
        if (k != 3) /* one record lost: the manager asks for the rest */
            append(repaired, q7sim::PosStore::offset_record_frame(at, file.records[k]));
    }
    append(repaired, q7sim::PosStore::offset_record_frame(3 * 52, file.records[3]));
    append(offsets, q7sim::PosStore::end_marker());
    append(repaired, q7sim::PosStore::end_marker());
    seed("rvtele_frame", "pos-offset-download", offsets);
    seed("rvtele_frame", "pos-offset-repaired", repaired);

    /* A plain download of 32-byte records ('O' frames). */
    q7sim::PosStore plainStore = posStore(32);
    QByteArray plain = linkInput(255, 0x03);
    const q7sim::PosFile &plainFile = *plainStore.file(2);
    for (size_t k = 0; k < 8 && k < plainFile.records.size(); ++k)
        append(plain, q7sim::PosStore::record_frame(plainFile.records[k]));
    append(plain, q7sim::PosStore::end_marker());
    seed("rvtele_frame", "pos-plain-download", plain);

    /* The loader's answers to a whole upgrade of a 300-byte image. */
    q7sim::Loader loader;
    Bytes image(300);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 7 + 3);
    const uint16_t crc = q7sim::loader_crc16(image.data(), image.size());
    QByteArray upgrade = linkInput(255, 0);
    append(upgrade, loader.on_frame(q7sim::addressed_frame(0, 0, q7sim::kLoaderMessageId, {0x02})));
    Bytes announce = {0x03};
    announce.resize(19);
    q7sim::put_le32(announce, 1, uint32_t(image.size()));
    q7sim::put_le32(announce, 5, crc);
    announce[9] = 3;
    announce[10] = 22;
    append(upgrade,
           loader.on_frame(q7sim::addressed_frame(0, 0, q7sim::kLoaderMessageId, announce)));
    for (size_t at = 0; at < image.size(); at += 200) {
        const size_t n = std::min<size_t>(200, image.size() - at);
        Bytes block = {0x04};
        block.resize(6);
        q7sim::put_le32(block, 1, uint32_t(at));
        block[5] = uint8_t(n);
        block.insert(block.end(), image.begin() + long(at), image.begin() + long(at + n));
        const uint16_t blockCrc = q7sim::loader_crc16(image.data() + at, n);
        block.push_back(uint8_t(blockCrc));
        block.push_back(uint8_t(blockCrc >> 8));
        append(upgrade,
               loader.on_frame(q7sim::addressed_frame(0, 0, q7sim::kLoaderMessageId, block)));
    }
    append(upgrade, loader.on_frame(q7sim::addressed_frame(0, 0, q7sim::kLoaderMessageId, {0x05})));
    seed("rvtele_frame", "loader-upgrade", upgrade);
}

/* ---- POS files of the USB volume and the tables made of them ---- */

QByteArray rawPosFile(int recordSize, int number, size_t records)
{
    q7sim::PosStore store = posStore(recordSize);
    const q7sim::PosFile &file = *store.file(number);
    QByteArray raw;
    for (size_t k = 0; k < records && k < file.records.size(); ++k)
        append(raw, file.records[k]);
    return raw;
}

void posSeeds(const QString &scratch)
{
    struct Raw {
        const char *name;
        int recordSize;
        int number; /* the store's files alternate between calendar time and seconds */
        bool perLens;
    };
    const Raw raws[] = {{"records-32-calendar", 32, 1, false},
                        {"records-32-seconds", 32, 2, false},
                        {"records-52", 52, 1, false},
                        {"records-52-lenses", 52, 2, true}};
    for (const Raw &r : raws) {
        QByteArray raw = rawPosFile(r.recordSize, r.number, 12);
        QByteArray input = raw;
        input.prepend(char((r.recordSize == 52 ? 1 : 0) | (r.perLens ? 2 : 0)));
        seed("usb_pos_export", r.name, input);

        const QString source = scratch + QStringLiteral("/pos.bin");
        const QString table = scratch + QStringLiteral("/pos.xls");
        QFile file(source);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(raw) != raw.size())
            fail(QStringLiteral("cannot write %1").arg(source));
        file.close();
        QStringList written;
        QString error;
        if (!UsbPosExport::exportFile({source, table}, r.recordSize, r.perLens, {}, &written,
                                      &error))
            fail(error);
        seed("pos_table", r.name, readFile(table));
        if (r.perLens)
            seed("pos_table", "records-52-lens-table", readFile(PosRules::lensTablePath(table, 0)));
        if (r.recordSize == 32 && r.number == 1) {
            /* A table without its header line, read by the older token rule. */
            QByteArray bare = readFile(table);
            bare.remove(0, bare.indexOf('\n') + 1);
            seed("pos_table", "records-32-headerless", bare);
        }
    }
    /* A record cut short at the end of the file. */
    QByteArray cut = rawPosFile(52, 3, 4);
    cut.chop(20);
    cut.prepend(char(3));
    seed("usb_pos_export", "records-52-cut", cut);
}

/* ---- photos ---- */

QByteArray encodedImage(const char *format, int seed)
{
    QImage image(16, 12, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb((x * 16 + seed) & 255, y * 20, (x + y) * 9));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, 50))
        fail(QStringLiteral("cannot encode a %1 image").arg(QLatin1String(format)));
    return bytes;
}

/* The camera's own tags, as a still camera writes them. */
QByteArray withCameraTags(const QByteArray &photo)
{
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(photo.constData()),
                                           long(photo.size()));
    image->readMetadata();
    Exiv2::ExifData &exif = image->exifData();
    exif["Exif.Image.Make"] = "SONY";
    exif["Exif.Image.Model"] = "ILCE-5100";
    exif["Exif.Photo.DateTimeOriginal"] = "2024:05:01 08:15:02";
    exif["Exif.Photo.FocalLength"] = Exiv2::URational(35, 1);
    image->writeMetadata();
    Exiv2::BasicIo &io = image->io();
    io.open();
    QByteArray out(qsizetype(io.size()), '\0');
    io.read(reinterpret_cast<Exiv2::byte *>(out.data()), long(out.size()));
    io.close();
    return out;
}

void photoSeeds()
{
    Geotagger::initialize();
    const QByteArray bare = encodedImage("JPEG", 1);
    seed("geotagger", "jpeg-without-exif", bare);
    const QByteArray camera = withCameraTags(encodedImage("JPEG", 2));
    seed("geotagger", "jpeg-camera-tags", camera);

    const GeoPosition position{116.3912345, 39.9071234, 523.4};
    QByteArray tagged;
    PhotoInfo info;
    QString error;
    if (!Geotagger::tag(camera, &position, &tagged, &info, &error))
        fail(error);
    seed("geotagger", "jpeg-geotagged", tagged);

    QByteArray headers;
    qsizetype imageStart = 0;
    int previous = 0;
    if (!Geotagger::setOrientation(tagged, 3, &headers, &imageStart, &previous, &error))
        fail(error);
    seed("geotagger", "jpeg-turned", headers + tagged.mid(imageStart));

    const QByteArray png = encodedImage("PNG", 3);
    seed("geotagger", "png", png);
    if (!Geotagger::setOrientation(png, 8, &headers, &imageStart, &previous, &error))
        fail(error);
    seed("geotagger", "png-turned", headers + png.mid(imageStart));
}

/* ---- the offload worker's task file ---- */

void writeTiny(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write %1").arg(path));
}

void taskSeeds(const QString &scratch)
{
    const QString source = scratch + QStringLiteral("/card/DCIM/100MSDCF");
    const QString destination = scratch + QStringLiteral("/save/Center");
    QDir().mkpath(source);
    QDir().mkpath(destination);
    writeTiny(source + QStringLiteral("/DSC00001.JPG"), encodedImage("JPEG", 4));
    writeTiny(source + QStringLiteral("/DSC00002.ARW"), "raw");
    writeTiny(source + QStringLiteral("/DSC00003.jpg"), encodedImage("JPEG", 5));

    DiskTask task;
    task.checks.hash = false;
    task.checks.readBack = false;
    const QString taskFile = scratch + QStringLiteral("/center.log");
    if (!disk_task_set_text(task.record.source_folder, source) ||
        !disk_task_set_text(task.record.dest_folder, destination) ||
        !disk_task_set_text(task.record.task_file, taskFile))
        fail(QStringLiteral("scratch folder path too long"));
    QString error;
    if (disk_task_create(&task, 0, &error) != 0)
        fail(error);
    while (!disk_task_finished(&task))
        QThread::msleep(10);
    disk_task_stop(&task, 0);
    if (!disk_task_error(&task).isEmpty())
        fail(disk_task_error(&task));
    /* The scratch folder's name changes from run to run; the seeds name a fixed one. */
    QByteArray done = readFile(taskFile);
    auto *header = reinterpret_cast<disk_task_t *>(done.data());
    const auto fixed = [&scratch](char *field, size_t size) {
        QString text = QString::fromUtf8(field, qsizetype(strnlen(field, size)));
        text.replace(scratch, QStringLiteral("/media/orvex"));
        const QByteArray bytes = text.toUtf8().left(qsizetype(size) - 1);
        std::memset(field, 0, size);
        std::memcpy(field, bytes.constData(), size_t(bytes.size()));
    };
    for (char *field : {header->dest_folder, header->source_folder, header->volume_path,
                        header->volume_name, header->zip_folder, header->task_file})
        fixed(field, 256);
    auto *entries = reinterpret_cast<file_info_t *>(done.data() + sizeof(disk_task_t));
    for (int i = 0; i < header->file_num; ++i)
        fixed(entries[i].path, sizeof entries[i].path);
    seed("disk_task", "finished", done);

    /* The same task as a transfer killed after its first file, packing zip volumes. */
    QByteArray killed = done;
    header = reinterpret_cast<disk_task_t *>(killed.data());
    header->next_index = 1;
    header->finished = 0;
    header->running = 1;
    header->split = 1;
    header->volume_limit_mib = 4096;
    disk_task_set_text(header->volume_path, QStringLiteral("/media/orvex/save/Center/pack1.zip"));
    disk_task_set_text(header->volume_name, QStringLiteral("pack1"));
    header->volume_bytes = 12345;
    seed("disk_task", "killed-splitting", killed);
}

/* ---- the offload record ---- */

void recordSeeds(const QString &scratch)
{
    const QString path = OffloadRecord::pathIn(scratch);
    QFile::remove(path);
    {
        OffloadRecordWriter writer;
        QString error;
        if (!writer.open(path, false, &error))
            fail(error);
        const QDateTime time =
            QDateTime::fromString(QStringLiteral("2024-05-01T08:15:03.042Z"), Qt::ISODateWithMs);
        const char *names[] = {"DSC00001.JPG", "DSC00002.ARW", "照片 3.JPG"};
        for (int i = 0; i < 3; ++i) {
            OffloadRecord::FileLine line;
            line.disk = i;
            line.cardUuid = QStringLiteral("5A1B-09C3");
            line.cardLabel = QStringLiteral("Center");
            line.cardPath = QStringLiteral("DCIM/100MSDCF/") + QString::fromUtf8(names[i]);
            line.size = 8123456 + i;
            line.mtime = {1714551302 + i, 120000000};
            line.sourceHash = 0x0f1e2d3c4b5a6978ull + quint64(i);
            line.copy = QStringLiteral("Center/") + QString::fromUtf8(names[i]);
            line.copySize = line.size + 334;
            line.copyHash = 0x8796a5b4c3d2e1f0ull - quint64(i);
            line.verified = i != 1;
            line.time = time;
            if (!writer.append(line, &error))
                fail(error);
        }
        OffloadRecord::VolumeLine volume;
        volume.disk = 0;
        volume.volume = QStringLiteral("Center/pack1.zip");
        volume.size = 4294967296;
        volume.hash = 0x00112233445566ffull;
        volume.tested = true;
        volume.time = time;
        if (!writer.append(volume, &error))
            fail(error);
    }
    /* The header says when the record was made; the seeds keep one time. */
    QByteArray record = readFile(path);
    const QByteArray created = "\"created\":\"";
    const qsizetype at = record.indexOf(created) + created.size();
    record.replace(at, record.indexOf('"', at) - at, "2024-05-01T08:15:02.125Z");
    seed("offload_record", "record", record);
    seed("offload_record", "torn-last-line", record.left(record.size() - 40));
    seed("offload_record", "foreign-and-garbage",
         record + R"({"kind":"file","version":2,"lens":"left"})"
                  "\n"
                  R"({"kind":"photo"})"
                  "\n"
                  "not json\n");
}

/* ---- Taskconfig.xml ---- */

void configSeeds(const QString &scratch)
{
    TaskConfig full;
    full.pans[0] = {"/media/c/DCIM", 120, 37, true, "/save/Center/pack3.zip", "pack3.zip"};
    full.pans[1] = {"/media/l/DCIM", 118, 0, false, {}, {}};
    full.pans[2] = {"/media/r/DCIM", 121, 121, true, "/save/Right/pack1", "pack1"};
    full.saveDir = QStringLiteral("/save/飞行 1");
    full.pose = {
        {"/pos/a.xls", {1000, 1002}, {{116.3912345, 30.1234567, 523.456}, {-0.5, 1e-7, 0}}},
        {"/pos/b.xls", {4000}, {{116.4, 30.2, 1234567.8}}}};
    full.sorties = true;
    full.split = true;
    full.splitValue = QStringLiteral("4GB");
    full.usePassword = true;
    full.password = QStringLiteral("a<b&c\"d'e> f");

    TaskConfig done;
    done.pans[4] = {"/media/b/DCIM", 3, 3, false, {}, {}};
    done.saveDir = QStringLiteral("/save");
    done.success = true;

    const QString path = TaskConfig::path(scratch);
    QString error;
    if (!full.write(path, &error))
        fail(error);
    seed("task_config", "interrupted", readFile(path));
    if (!done.write(path, &error))
        fail(error);
    seed("task_config", "completed", readFile(path));
}

/* ---- UpdateConfig.xml and firmware files ---- */

void upgradeSeeds(const QString &sourceFolder)
{
    if (!sourceFolder.isEmpty())
        seed("update_config", "shipped", readFile(sourceFolder + "/pages/UpdateConfig.xml"));
    seed("update_config", "offer",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n  <filename "
         "value=\"Q7firmware.bin\"/>\n  <num value=\" 4.5 \"/>\n</config>\n");
    seed("update_config", "no-version",
         "<config><filename value=\"fw.bin\"></filename><other/></config>");

    QByteArray plain(300, '\0');
    for (int i = 0; i < plain.size(); ++i)
        plain[i] = char(i * 13 + 5);
    seed("firmware_file", "plain", plain);
    /* "OVRE", four header bytes, then the cipher text of 256-byte chunks and a short one. */
    seed("firmware_file", "encrypted", QByteArray("OVRE\x01\x00\x00\x00", 8) + plain);
    seed("firmware_file", "encrypted-header-only", QByteArray("OVRE\x00\x00\x00\x00", 8));
    seed("firmware_file", "encrypted-cut", QByteArray("OVRE\x01", 5));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER [SOURCE_FOLDER]\n", argv[0]);
        return 2;
    }
    /* The tables' times are local times: the seeds are made in one zone whatever the machine's. */
    setenv("TZ", "UTC", 1);
    tzset();
    g_output = QString::fromLocal8Bit(argv[1]);
    const QString sourceFolder = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    QTemporaryDir scratch;
    if (!scratch.isValid())
        fail(QStringLiteral("cannot make a scratch folder"));

    linkSeeds();
    posSeeds(scratch.path());
    photoSeeds();
    taskSeeds(scratch.path());
    recordSeeds(scratch.path());
    configSeeds(scratch.path());
    upgradeSeeds(sourceFolder);
    return 0;
}

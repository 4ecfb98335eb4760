// Saves and backups that fail: a read-only target (for root too), a disk
// that fills up part-way, a file-size limit (with the program's own signal
// setting), a flush that fails, the same in a save written in place, and a
// save killed at a random moment. Each failure is reported, the program goes
// on, the box keeps its text and the target keeps its old bytes, with
// nothing left beside it.
//
// Each case runs in a forked child of the test (which already holds the
// offscreen application), so that limits, mounts, filters and the change of
// user stay there; the child checks and reports back through a pipe.
#include "TestSupport.h"
#include "editor/Form1.h"
#include "runtime/CodePage.h"
#include "runtime/Files.h"
#include "runtime/Forms.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <vector>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using runtime::global;

namespace {

const QString kDataFolderRel = QStringLiteral("Games/Apex Circuit Racing/UserData");
const QString kDataRel = kDataFolderRel + QStringLiteral("/game.Gdb");
const QString kDataWin = QStringLiteral("C:\\Games\\Apex Circuit Racing\\UserData\\game.Gdb");
const QString kTempRel = QStringLiteral("windows/temp");
const QString kBackupRel = kTempRel + QStringLiteral("/game2.Gdb");
const QString kBackupWin = QStringLiteral("C:\\Windows\\Temp\\game2.Gdb");

// "PARAM_n = v" lines, CR LF after each but the last.
QString parameterText(qsizetype bytes, int seed)
{
    QString out;
    out.reserve(bytes + 64);
    for (int i = 0; out.size() < bytes; ++i)
        out += QStringLiteral("PARAM_%1 = %2\r\n").arg(i).arg((i * 7919 + seed) % 100000);
    out.chop(2);
    return out;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return QStringLiteral("cannot write %1").arg(path);
    return {};
}

// Lets every user reach and write the folders from `root` down to `folder`.
void openUp(const QString &root, const QString &folder, mode_t leaf = 0777)
{
    ::chmod(QFile::encodeName(root).constData(), 0755);
    QString p = root;
    for (const QString &part : folder.mid(root.size() + 1).split('/')) {
        p += '/' + part;
        ::chmod(QFile::encodeName(p).constData(), p == folder ? leaf : 0755);
    }
}

QString failSyncCalls(int err) { return testing::failCalls({__NR_fsync, __NR_fdatasync}, err); }

// A private mount namespace with a tmpfs of `size` on `folder`.
QString mountSmallDisk(const QString &folder, const char *size)
{
    if (!testing::isRoot())
        return QStringLiteral("SKIP: mounting a small tmpfs needs root");
    if (unshare(CLONE_NEWNS) != 0)
        return QStringLiteral("SKIP: no mount namespace here: %1").arg(strerror(errno));
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return QStringLiteral("SKIP: cannot make the mounts private: %1").arg(strerror(errno));
    const QByteArray options = QByteArray("size=") + size + ",mode=0777";
    if (mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
              options.constData())
        != 0)
        return QStringLiteral("SKIP: cannot mount a tmpfs: %1").arg(strerror(errno));
    return {};
}

} // namespace

class TestSaveFailures : public QObject {
    Q_OBJECT
private slots:
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void killedSaveLeavesOldOrNew();
};

void TestSaveFailures::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("backup");
    QTest::addColumn<int>("number");
    for (bool backup : {false, true}) {
        const char *w = backup ? "backup" : "save";
        QTest::addRow("%s: read-only file", w) << "read-only file" << backup << 70;
        // No write bit at all: read-only for root as well.
        QTest::addRow("%s: read-only file, as root", w) << "read-only file, as root" << backup << 70;
        QTest::addRow("%s: disk full part-way", w) << "disk full" << backup << 61;
        QTest::addRow("%s: file size limit", w) << "file size limit" << backup << 61;
        // Cut in the very last write: nothing later would fail instead.
        QTest::addRow("%s: file size limit in the last piece", w) << "limit in the last piece" << backup << 61;
        QTest::addRow("%s: file size limit in the line end", w) << "limit in the line end" << backup << 61;
        QTest::addRow("%s: disk full at the flush", w) << "flush fails" << backup << 61;
        // Root's save of a user's file where no file can be given away: the
        // file is written in place, once its room is reserved.
        QTest::addRow("%s: in place, disk full", w) << "in place: disk full" << backup << 61;
        QTest::addRow("%s: in place, file size limit", w) << "in place: limit in the line end" << backup << 61;
    }
}

void TestSaveFailures::failedWriteKeepsOldFile()
{
    QFETCH(QString, kind);
    QFETCH(bool, backup);
    QFETCH(int, number);
    testing::Prefix prefix;
    testing::Recorder rec; // the parent's runtime stays clean of the child's

    const QString targetFolder = prefix.path(backup ? kTempRel : kDataFolderRel);
    const QString target = prefix.path(backup ? kBackupRel : kDataRel);
    const QString targetWin = backup ? kBackupWin : kDataWin;
    const QByteArray dataBytes = parameterText(4000, 1).toLatin1() + "\r\n";
    const QByteArray oldBytes = backup ? parameterText(3000, 2).toLatin1() + "\r\n" : dataBytes;
    // Larger than the small disk and the size limits below.
    const QString boxText = parameterText(200000, 3) + (kind == "limit in the last piece" ? "\r\n" : "");
    const qsizetype written = boxText.size() + (boxText.endsWith("\r\n") ? 0 : 2);
    const rlim_t sizeLimit = kind == "file size limit"           ? 32 * 1024
                             : kind == "limit in the last piece" ? written - 100
                                                                 : written - 1;
    const bool asRoot = kind == "read-only file, as root";
    const bool inPlace = kind.startsWith("in place");
    const bool nobody = kind == "read-only file";
    if ((asRoot || inPlace) && !testing::isRoot())
        QSKIP("needs root");
    const bool smallDisk = kind.endsWith("disk full");
    // Whether the cause can be taken away in the child for a second try.
    const bool again = kind != "flush fails";

    QDir().mkpath(targetFolder);
    if (!smallDisk) {
        prefix.write(kDataRel, dataBytes);
        if (backup)
            prefix.write(kBackupRel, oldBytes);
    } else if (backup) {
        prefix.write(kDataRel, dataBytes);
    }
    // So that the prefix can be removed again by a user who is not root.
    auto writable = qScopeGuard([&] { ::chmod(QFile::encodeName(targetFolder).constData(), 0755); });
    if (nobody) {
        openUp(prefix.root(), prefix.driveC(), 0755);
        openUp(prefix.driveC(), prefix.path(kDataFolderRel));
        openUp(prefix.driveC(), prefix.path(kTempRel));
        const QByteArray t = QFile::encodeName(target);
        if (testing::isRoot())
            QCOMPARE(::chown(t.constData(), 65534, 65534), 0);
        QCOMPARE(::chmod(t.constData(), 0444), 0);
    }
    if (asRoot)
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0444), 0);

    const testing::Outcome o = testing::inChild(
        [&]() -> QString {
            testing::Checks checks;
            if (smallDisk) {
                // A disk of 64 KiB that holds the old file: the new one fills it.
                const QString why = mountSmallDisk(targetFolder, "64k");
                if (!why.isEmpty())
                    return why;
                QString err = writeFile(target, oldBytes);
                if (!err.isEmpty())
                    return err;
            }
            if (inPlace && ::chown(QFile::encodeName(target).constData(), 65534, 65534) != 0)
                return QStringLiteral("chown: %1").arg(strerror(errno));
            // The program's own setting, whatever the test's process had.
            signal(SIGXFSZ, SIG_DFL);

            testing::Recorder childRec;
            runtime::dispatch([] { global<Form1>().Show(); });
            if (!childRec.reports.isEmpty())
                return "load failed: " + childRec.reports[0].text;
            Form1 &f = global<Form1>();
            f.ui.TxtTesto->setText(boxText);
            const QStringList entries = testing::folderEntries(targetFolder);
            CHECK(readFile(target) == oldBytes);
            struct stat before {};
            CHECK(::stat(QFile::encodeName(target).constData(), &before) == 0);

            if (inPlace) {
                const QString why = testing::refuseChown();
                if (!why.isEmpty())
                    return why;
            }
            if (kind.contains("limit")) {
                rlimit lim{};
                getrlimit(RLIMIT_FSIZE, &lim);
                lim.rlim_cur = sizeLimit;
                if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
                    return QStringLiteral("setrlimit: %1").arg(strerror(errno));
            } else if (kind == "flush fails") {
                const QString why = failSyncCalls(ENOSPC);
                if (!why.isEmpty())
                    return why;
            }

            QTest::mouseClick(backup ? f.ui.CmdBackUp : f.ui.CmdSalva, Qt::LeftButton);

            CHECK(childRec.reports.size() == 1);
            if (childRec.reports.size() == 1) {
                const auto &r = childRec.reports[0];
                checks.check(r.number == number, qPrintable(QStringLiteral("reported %1 (%2)").arg(r.number).arg(r.text)),
                             __LINE__);
                CHECK(r.text.contains(targetWin));
            }
            CHECK(!childRec.ended());
            CHECK(f.isVisible());
            CHECK(f.ui.TxtTesto->text() == boxText);
            CHECK(readFile(target) == oldBytes);
            // The very same file, with its owner and mode.
            struct stat after {};
            CHECK(::stat(QFile::encodeName(target).constData(), &after) == 0);
            CHECK(after.st_ino == before.st_ino && after.st_mode == before.st_mode && after.st_uid == before.st_uid
                  && after.st_gid == before.st_gid);
            CHECK(testing::folderEntries(targetFolder) == entries);
            CHECK(!runtime::files::isOpen(4) && !runtime::files::isOpen(5));
            if (backup) // the backup never touches the data file
                CHECK(readFile(prefix.path(kDataRel)) == dataBytes);

            // The program goes on: once the cause is gone a write succeeds.
            if (kind.startsWith("read-only file"))
                ::chmod(QFile::encodeName(target).constData(), 0644);
            if (again) {
                f.ui.TxtTesto->setText(QStringLiteral("FUEL = 40"));
                QTest::mouseClick(backup ? f.ui.CmdBackUp : f.ui.CmdSalva, Qt::LeftButton);
                CHECK(childRec.reports.size() == 1);
                CHECK(readFile(target) == "FUEL = 40\r\n");
                struct stat saved {};
                CHECK(::stat(QFile::encodeName(target).constData(), &saved) == 0);
                // Written in place: the same file, still its owner's.
                if (inPlace)
                    CHECK(saved.st_ino == before.st_ino && saved.st_uid == 65534);
            }
            return checks.result();
        },
        nobody);

    if (o.skipped())
        QSKIP(qPrintable(o.text));
    QVERIFY2(o.code == 0, qPrintable(o.text));
    QVERIFY(rec.reports.isEmpty());
    if (!smallDisk) { // the parent sees the same disk
        QCOMPARE(readFile(target), again ? QByteArray("FUEL = 40\r\n") : oldBytes);
        QCOMPARE(testing::folderEntries(targetFolder), QStringList{QFileInfo(target).fileName()});
    }
}

// A save killed at any moment leaves the data file whole: the old bytes or
// the new ones.
void TestSaveFailures::killedSaveLeavesOldOrNew()
{
    testing::Prefix prefix;
    testing::Recorder rec;
    const QString texts[2] = {parameterText(3 << 20, 4) + "\r\n", parameterText(4 << 20, 5) + "\r\n"};
    const QByteArray bytes[2] = {runtime::toAnsi(texts[0]), runtime::toAnsi(texts[1])};
    const QString target = prefix.write(kDataRel, bytes[0]);

    auto save = [&](int which) {
        runtime::files::OpenOutput(4, kDataWin);
        runtime::files::Print(4, texts[which], false);
        runtime::files::Close(4);
    };
    // How long two saves take here, to spread the kills over them.
    QElapsedTimer timer;
    timer.start();
    save(1);
    save(0);
    const qint64 span = std::max<qint64>(3 * timer.elapsed(), 10);
    QCOMPARE(readFile(target), bytes[0]);

    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    int seen[2] = {0, 0};
    for (int round = 0; round < 20; ++round) {
        const pid_t pid = fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            for (int i = 1;; i ^= 1) {
                try {
                    save(i);
                } catch (const runtime::RuntimeError &) {
                    _exit(1);
                }
            }
        }
        const qint64 delay = random.bounded(span + 1);
        QTest::qSleep(int(delay));
        ::kill(pid, SIGKILL);
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QVERIFY2(WIFSIGNALED(status), "the saving child failed");
        const QByteArray now = readFile(target);
        const int which = now == bytes[0] ? 0 : now == bytes[1] ? 1 : -1;
        QVERIFY2(which >= 0, qPrintable(QStringLiteral("round %1 (seed %2, %3 ms): %4 bytes, neither old nor new")
                                            .arg(round)
                                            .arg(seed)
                                            .arg(delay)
                                            .arg(now.size())));
        ++seen[which];
    }
    qInfo("kills: %d left the first text, %d the second (seed %u, span %lld ms)", seen[0], seen[1], seed,
          static_cast<long long>(span));
}

QTEST_MAIN(TestSaveFailures)
#include "test_save_failures.moc"

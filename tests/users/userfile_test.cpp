// Users.dat: exact bytes, damaged files, failures at every step of a save, and a held lock.
#include "core/FileSystem.h"
#include "support/TestSupport.h"
#include "users/CUserList.h"
#include "users/UserFile.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

using namespace testing_support;

namespace {

const std::string kAnnBytes("\x01\x00"
                            "\x04\x00"
                            "Ann\0"
                            "\x04\x00"
                            "ann\0"
                            "\x03\x00"
                            "s1\0"
                            "\x02\x00"
                            "p\0"
                            "\x01\x00\x00\x00"
                            "\x3c\x00"
                            "\x01\x00",
                            31);

UserlistStru* Add(CUserList& list, int code, const char* name, const char* mailbox = "mbx",
                  const char* server = "srv", const char* pager = "pgr") {
    UserlistStru* u = list.CreateNoCodeUser();
    u->Code = static_cast<int16_t>(code);
    u->DisplayName = name;
    u->MailboxName = mailbox;
    u->Server = server;
    u->PagerName = pager;
    return u;
}

// A directory of its own as the working directory, with events captured.
class UserFileTest : public testing::Test {
protected:
    TempDir dir;
    ScopedWorkingDirectory cwd{dir.Path()};
    CapturedEvents events;
    std::string DataFile() const { return dir.File("Users.dat"); }

    std::vector<std::string> DamagedCopies() const {
        std::vector<std::string> copies;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
            const std::string name = e.path().filename().string();
            if (name.rfind("Users.dat.damaged-", 0) == 0)
                copies.push_back(e.path().string());
        }
        return copies;
    }
};

// Fails one chosen call of a save with the chosen error while installed.
class FaultyFileSystem : public IFileSystem {
public:
    enum Step { kCreate, kWrite, kFlush, kRename };
    FaultyFileSystem(Step step, int error)
        : m_step(step), m_error(error), m_previous(SetFileSystem(this)) {}
    ~FaultyFileSystem() override { SetFileSystem(m_previous); }
    int Open(const char* p, int f, mode_t m) override {
        return m_step == kCreate && !(f & O_DIRECTORY) ? Fail() : IFileSystem::Open(p, f, m);
    }
    ssize_t Write(int fd, const void* d, size_t n) override {
        return m_step == kWrite ? Fail() : IFileSystem::Write(fd, d, n);
    }
    int Fsync(int fd) override { return m_step == kFlush ? Fail() : IFileSystem::Fsync(fd); }
    int Rename(const char* a, const char* b) override {
        return m_step == kRename ? Fail() : IFileSystem::Rename(a, b);
    }

private:
    int Fail() {
        errno = m_error;
        return -1;
    }
    Step m_step;
    int m_error;
    IFileSystem* m_previous;
};

} // namespace

TEST_F(UserFileTest, WritesTheDocumentedBytesAndReadsThemBack) {
    CUserList list;
    UserlistStru* ann = Add(list, 1, "Ann", "ann", "s1", "p");
    ann->PageOnlyOOF = 1;
    ann->ScanInterval = 60;
    EXPECT_EQ(list.SaveUsers(), UserFileSave::Saved);
    EXPECT_TRUE(ReadFile(DataFile()) == kAnnBytes);

    CUserList loaded;
    const UserFileLoad load = loaded.LoadUsers();
    EXPECT_EQ(load.status, UserFileLoad::Loaded);
    ASSERT_EQ(loaded.GetCount(), 1);
    EXPECT_EQ(UserFile::Encode(loaded), kAnnBytes);
    EXPECT_TRUE(events.Entries().empty());
}

TEST_F(UserFileTest, EmptyStringsTakeLengthOneAndNonPositiveCodesAreNotWritten) {
    CUserList list;
    UserlistStru* empty = Add(list, 3, "", "", "", "");
    empty->PageOnlyOOF = 0;
    empty->ScanInterval = 15;
    Add(list, 0, "zero");
    Add(list, -2, "negative");
    ASSERT_EQ(list.SaveUsers(), UserFileSave::Saved);
    const std::string bytes = ReadFile(DataFile());
    EXPECT_EQ(bytes, std::string("\x01\x00\x01\x00\x00\x01\x00\x00\x01\x00\x00\x01\x00\x00"
                                 "\x00\x00\x00\x00\x0f\x00\x03\x00",
                                 22));

    CUserList onlyZero;
    Add(onlyZero, 0, "zero");
    ASSERT_EQ(onlyZero.SaveUsers(), UserFileSave::Saved);
    EXPECT_EQ(ReadFile(DataFile()), "");
}

TEST_F(UserFileTest, ARoundTripKeepsOrderCodesIntervalsFlagsAndBytes) {
    CUserList list;
    Add(list, 7, "Zoe", "/o=Quorvik/cn=zoe", "/o=Quorvik/cn=MDB2", "Zoe pager");
    UserlistStru* b = Add(list, 2, "B\xe9la \xc3\xa9", "b", "s", "Bela's pager");
    b->ScanInterval = 32767;
    b->PageOnlyOOF = 0x12345678;
    Add(list, 30000, std::string(999, 'x').c_str());
    ASSERT_EQ(list.SaveUsers(), UserFileSave::Saved);

    CUserList loaded;
    loaded.NextCode = 40;
    loaded.LoadUsers();
    EXPECT_EQ(loaded.NextCode, 1);
    EXPECT_EQ(UserFile::Encode(loaded), UserFile::Encode(list));
    ASSERT_EQ(loaded.GetCount(), 3);
    const UserlistStru& second = *std::next(loaded.Users().begin())->get();
    EXPECT_EQ(second.DisplayName, "B\xe9la \xc3\xa9");
    EXPECT_EQ(second.PageOnlyOOF, 0x12345678);
    EXPECT_EQ(second.ScanInterval, 32767);
    EXPECT_EQ(second.ScanStatus, -1);
    EXPECT_EQ(loaded.CreateUser()->Code, 1) << "the next new user gets the lowest free code";
}

TEST_F(UserFileTest, MissingEmptyAndOneByteFilesLoadAsEmptyWithoutAWord) {
    CUserList missing;
    EXPECT_EQ(missing.LoadUsers().status, UserFileLoad::Missing);
    for (const std::string& bytes : {std::string(), std::string("\x01", 1)}) {
        WriteFile(DataFile(), bytes);
        CUserList list;
        EXPECT_EQ(list.LoadUsers().status, UserFileLoad::Loaded);
        EXPECT_TRUE(list.IsEmpty());
    }
    EXPECT_TRUE(events.Entries().empty());
}

TEST_F(UserFileTest, AnyRecordMarkerIsAcceptedAndTextStopsAtTheFirstZero) {
    std::string bytes = kAnnBytes;
    bytes[0] = '\x7f';
    bytes[1] = '\xff';
    bytes[5] = '\0'; // "Ann" becomes "A" followed by bytes after a zero
    WriteFile(DataFile(), bytes);
    CUserList list;
    EXPECT_EQ(list.LoadUsers().status, UserFileLoad::Loaded);
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.Users().front()->DisplayName, "A");
    EXPECT_EQ(list.Users().front()->PagerName, "p");
}

TEST_F(UserFileTest, EveryTruncationKeepsTheWholeRecordsBeforeIt) {
    CUserList list;
    Add(list, 1, "Ann", "ann", "s1", "p");
    Add(list, 2, "Bob", "bob", "s2", "q");
    const std::string whole = UserFile::Encode(list);
    const size_t first = kAnnBytes.size();
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        WriteFile(DataFile(), whole.substr(0, cut));
        CapturedEvents local;
        CUserList loaded;
        const UserFileLoad load = loaded.LoadUsers();
        const int expectedUsers = cut >= first ? 1 : 0;
        EXPECT_EQ(loaded.GetCount(), expectedUsers) << "cut at " << cut;
        const bool onlyAMarkerByte = cut == 0 || cut == 1 || cut == first || cut == first + 1;
        if (onlyAMarkerByte) {
            EXPECT_EQ(load.status, UserFileLoad::Loaded) << "cut at " << cut;
            EXPECT_TRUE(local.Entries().empty());
        } else {
            EXPECT_EQ(load.status, UserFileLoad::Damaged) << "cut at " << cut;
            ASSERT_EQ(local.Entries().size(), 1u) << "cut at " << cut;
            const std::string& text = local.Entries()[0].strings.at(0);
            EXPECT_NE(text.find(DataFile()), std::string::npos) << text;
            EXPECT_NE(text.find("byte offset " + std::to_string(load.offset)), std::string::npos)
                << text;
            EXPECT_LE(load.offset, cut);
        }
    }
}

TEST_F(UserFileTest, LengthsOutsideOneToAThousandAreDamageAtTheirOffset) {
    const struct {
        size_t at;
        int16_t length;
    } rows[] = {{2, 0}, {2, -1}, {2, 1001}, {8, 0x7fff}, {14, 1001}, {19, -32768}}; // L1..L4
    for (const auto& row : rows) {
        std::string bytes = kAnnBytes + kAnnBytes;
        const size_t at = kAnnBytes.size() + row.at;
        bytes[at] = static_cast<char>(row.length & 0xff);
        bytes[at + 1] = static_cast<char>((row.length >> 8) & 0xff);
        WriteFile(DataFile(), bytes);
        CUserList list;
        const UserFileLoad load = list.LoadUsers();
        EXPECT_EQ(load.status, UserFileLoad::Damaged);
        EXPECT_EQ(load.offset, at) << row.length;
        EXPECT_EQ(list.GetCount(), 1);
    }
    // 1000 is the largest length the reader accepts.
    CUserList big;
    Add(big, 1, std::string(999, 'n').c_str());
    WriteFile(DataFile(), UserFile::Encode(big));
    CUserList loaded;
    EXPECT_EQ(loaded.LoadUsers().status, UserFileLoad::Loaded);
    EXPECT_EQ(loaded.Users().front()->DisplayName.size(), 999u);
}

TEST_F(UserFileTest, RandomBitFlipsNeverCrashNorLoadOversizedStrings) {
    CUserList list;
    for (int i = 1; i <= 20; ++i)
        Add(list, i, ("User " + std::to_string(i)).c_str(), "mailbox", "server", "pager");
    const std::string whole = UserFile::Encode(list);
    std::mt19937 random(20261207);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes = whole;
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int f = 0; f < flips; ++f)
            bytes[random() % bytes.size()] ^= static_cast<char>(1u << (random() % 8));
        CUserList loaded;
        UserFile::Decode(bytes, loaded);
        for (const auto& u : loaded.Users()) {
            ASSERT_LE(u->DisplayName.size(), 999u);
            ASSERT_LE(u->MailboxName.size(), 999u);
            ASSERT_LE(u->Server.size(), 999u);
            ASSERT_LE(u->PagerName.size(), 999u);
        }
        ASSERT_LE(loaded.GetCount(), static_cast<int>(bytes.size() / 22));
    }
}

TEST_F(UserFileTest, ADamagedFileIsKeptBeforeTheNextSaveReplacesIt) {
    const std::string damaged = kAnnBytes + std::string("\x01\x00\xff\x7f", 4);
    WriteFile(DataFile(), damaged);
    CUserList list;
    EXPECT_EQ(list.LoadUsers().status, UserFileLoad::Damaged);
    Add(list, 2, "Bob");
    ASSERT_EQ(list.SaveUsers(), UserFileSave::Saved);

    const auto copies = DamagedCopies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(ReadFile(copies[0]) == damaged);
    CUserList reloaded;
    EXPECT_EQ(reloaded.LoadUsers().status, UserFileLoad::Loaded);
    EXPECT_EQ(reloaded.GetCount(), 2);
    // An intact file is replaced without a copy.
    ASSERT_EQ(reloaded.SaveUsers(), UserFileSave::Saved);
    EXPECT_EQ(DamagedCopies().size(), 1u);
}

TEST_F(UserFileTest, AFailureAtEachStepOfASaveLeavesTheOldFileWholeAndAsksToRetry) {
    const struct {
        FaultyFileSystem::Step step;
        int error;
        const char* caption;
    } rows[] = {
        {FaultyFileSystem::kCreate, ENOSPC, "User Write Error"},
        {FaultyFileSystem::kWrite, ENOSPC, "User Write Error"},
        {FaultyFileSystem::kFlush, EIO, "User Write Error"},
        {FaultyFileSystem::kRename, EBUSY, "User Write Error"},
        {FaultyFileSystem::kCreate, EACCES, "Sharing Violation"},
    };
    for (const auto& row : rows) {
        WriteFile(DataFile(), kAnnBytes);
        CUserList list;
        Add(list, 5, "Replacement");
        QueuedMessageBoxes boxes;
        boxes.Answer(IDCANCEL);
        {
            FaultyFileSystem faulty(row.step, row.error);
            EXPECT_EQ(list.SaveUsers(), UserFileSave::Cancelled);
        }
        EXPECT_TRUE(ReadFile(DataFile()) == kAnnBytes) << row.caption << " " << row.step;
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].caption, row.caption);
        EXPECT_EQ(boxes.Boxes()[0].type, unsigned(MB_RETRYCANCEL | MB_ICONWARNING));
        if (std::string(row.caption) == "User Write Error") {
            EXPECT_EQ(boxes.Boxes()[0].text, "Unspecified error writing the user data file.");
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2)
        << "only Users.dat and its lock file remain";
}

TEST_F(UserFileTest, RetryWritesOnceTheFaultHasCleared) {
    WriteFile(DataFile(), kAnnBytes);
    CUserList list;
    Add(list, 5, "Replacement");
    auto faulty = std::make_unique<FaultyFileSystem>(FaultyFileSystem::kWrite, ENOSPC);
    // The question is answered after the disk has been cleaned up.
    class ClearingBoxes : public QueuedMessageBoxes {
    public:
        std::unique_ptr<FaultyFileSystem>* fault = nullptr;
        int Show(const CString& t, const CString& c, unsigned type) override {
            fault->reset();
            return QueuedMessageBoxes::Show(t, c, type);
        }
    } boxes;
    boxes.fault = &faulty;
    boxes.Answer(IDRETRY);
    EXPECT_EQ(list.SaveUsers(), UserFileSave::Saved);
    EXPECT_EQ(ReadFile(DataFile()), UserFile::Encode(list));
}

TEST_F(UserFileTest, AFileHeldByAnotherWriterGivesTheSharingViolationQuestion) {
    WriteFile(DataFile(), kAnnBytes);
    FileLock other;
    ASSERT_EQ(other.TryLock(dir.File("Users.dat.lock"), FileLock::Exclusive), FileLock::Locked);

    CUserList readerSide;
    EXPECT_EQ(readerSide.LoadUsers().status, UserFileLoad::Busy);
    EXPECT_TRUE(readerSide.IsEmpty());

    CUserList list;
    Add(list, 9, "Nine");
    {
        QueuedMessageBoxes boxes;
        boxes.Answer(IDCANCEL);
        EXPECT_EQ(list.SaveUsers(), UserFileSave::Cancelled);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].caption, "Sharing Violation");
        EXPECT_EQ(
            boxes.Boxes()[0].text,
            "Unable to write the user data file.  Another process is currently using the file.");
    }
    EXPECT_TRUE(ReadFile(DataFile()) == kAnnBytes);

    class ReleasingBoxes : public QueuedMessageBoxes {
    public:
        FileLock* held = nullptr;
        int Show(const CString& t, const CString& c, unsigned type) override {
            held->Unlock();
            return QueuedMessageBoxes::Show(t, c, type);
        }
    } boxes;
    boxes.held = &other;
    boxes.Answer(IDRETRY);
    EXPECT_EQ(list.SaveUsers(), UserFileSave::Saved);
    EXPECT_EQ(ReadFile(DataFile()), UserFile::Encode(list));
}

TEST_F(UserFileTest, StringsLongerThan999CharactersAreRefusedNotWritten) {
    WriteFile(DataFile(), kAnnBytes);
    CUserList list;
    Add(list, 1, "fine");
    Add(list, 2, "fine", "mbx", "srv", std::string(1000, 'p').c_str());
    QueuedMessageBoxes boxes;
    boxes.Answer(IDOK);
    EXPECT_EQ(list.SaveUsers(), UserFileSave::Refused);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_NE(boxes.Boxes()[0].text.find("pager name is 1000 characters long"), std::string::npos)
        << boxes.Boxes()[0].text;
    EXPECT_TRUE(ReadFile(DataFile()) == kAnnBytes);
}

TEST_F(UserFileTest, AFileLargerThanAnyUserListIsNotReadAndIsKeptAsideAtTheNextSave) {
    {
        const int fd = open(DataFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0640);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, (64 << 20) + 1), 0); // a hole: no room taken on disk
        close(fd);
    }
    CUserList list;
    const UserFileLoad load = list.LoadUsers();
    EXPECT_EQ(load.status, UserFileLoad::Unreadable);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_NE(load.message.find("larger than 64 MiB"), std::string::npos) << load.message;
    ASSERT_EQ(events.Texts().size(), 1u);
    EXPECT_EQ(events.Texts()[0], load.message);

    Add(list, 5, "Replacement");
    ASSERT_EQ(list.SaveUsers(), UserFileSave::Saved);
    EXPECT_EQ(ReadFile(DataFile()), UserFile::Encode(list));
    const std::vector<std::string> copies = DamagedCopies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(copies[0]), uintmax_t(64 << 20) + 1);
}

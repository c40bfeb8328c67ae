#include "device_list.h"

#include <atomic>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "test_support.h"

namespace {
const std::string key_a = "192.168.1.30,SN0001,1.8.4";
const std::string key_b = "192.168.1.31,SN0002,1.8.4";
}  // namespace

TEST(DevList, TakenNameIsRefusedToAnotherDevice) {
    devList list("");
    EXPECT_TRUE(list.add(key_a, "A"));
    EXPECT_FALSE(list.add(key_b, "A"));
    EXPECT_TRUE(list.add(key_b, "A1"));
    EXPECT_EQ(list.count(), 2u);
}

TEST(DevList, SameDeviceKeepsItsNameWithoutASecondEntry) {
    devList list("");
    EXPECT_TRUE(list.add(key_a, "A"));
    EXPECT_TRUE(list.add(key_a, "A"));
    EXPECT_EQ(list.count(), 1u);
    // A key that occurs inside a listed entry (same address and serial, version 1.8 against
    // 1.8.4) counts as that device.
    EXPECT_TRUE(list.add("192.168.1.30,SN0001,1.8", "A"));
    EXPECT_EQ(list.count(), 1u);
}

TEST(DevList, DeleteFreesTheName) {
    devList list("");
    ASSERT_TRUE(list.add(key_a, "A"));
    EXPECT_FALSE(list._delete(key_b + ",B"));
    EXPECT_TRUE(list._delete(key_a + ",A"));
    EXPECT_EQ(list.count(), 0u);
    EXPECT_TRUE(list.add(key_b, "A"));
}

TEST(DevList, ClearFreesEveryName) {
    devList list("");
    ASSERT_TRUE(list.add(key_a, "A"));
    list.clear();
    EXPECT_EQ(list.count(), 0u);
    EXPECT_TRUE(list.add(key_b, "A"));
}

TEST(DevList, EntireIsNullWhenEmpty) {
    devList list("");
    size_t length = 99;
    EXPECT_EQ(list.entire(&length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(list.save());  // no path bound
}

TEST(DevList, SavesEntriesSortedByteWise) {
    ScratchDir dir;
    const std::string path = dir / "devlist.txt";
    devList list(path);
    list.add("192.168.1.9,SN9,1.8.4", "b");
    list.add(key_b, "Z");
    list.add(key_a, "a");
    ASSERT_TRUE(list.save());
    EXPECT_EQ(
        read_text(path),
        "192.168.1.30,SN0001,1.8.4,a\n192.168.1.31,SN0002,1.8.4,Z\n192.168.1.9,SN9,1.8.4,b\n");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(DevList, EmptyListTruncatesTheFile) {
    ScratchDir dir;
    const std::string path = dir / "devlist.txt";
    write_text(path, "old contents\n");
    devList list(path);
    EXPECT_TRUE(list.save());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(DevList, ReplacesAPlantedLinkInsteadOfFollowingIt) {
    ScratchDir dir;
    const std::string victim = dir / "victim";
    const std::string path = dir / "devlist.txt";
    write_text(victim, "precious\n");
    ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
    devList list(path);
    list.add(key_a, "A");
    ASSERT_TRUE(list.save());
    EXPECT_EQ(read_text(victim), "precious\n");
    EXPECT_FALSE(fs::is_symlink(path));
    EXPECT_EQ(read_text(path), key_a + ",A\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 2);
}

TEST(DevList, SaveFailsWhenTheFolderIsMissing) {
    ScratchDir dir;
    devList list(dir / "missing/devlist.txt");
    list.add(key_a, "A");
    EXPECT_FALSE(list.save());
}

// The device thread adds while the housekeeping thread saves and clears; a reader of the file must
// only ever see whole lists. Run under ThreadSanitizer as well.
TEST(DevList, ConcurrentAddSaveClear) {
    ScratchDir dir;
    const std::string path = dir / "devlist.txt";
    devList list(path);
    std::atomic<bool> done{false};
    std::thread device([&] {
        for (int i = 0; i < 3000; ++i)
            list.add("10.0.0." + std::to_string(i % 50) + ",SN" + std::to_string(i) + ",1.8.4",
                     "dev" + std::to_string(i % 70));
        done = true;
    });
    std::thread housekeeping([&] {
        while (!done) {
            EXPECT_TRUE(list.save());
            list.clear();
        }
    });
    while (!done) {
        const std::string text = read_text(path);
        EXPECT_TRUE(text.empty() || text.back() == '\n') << text;
    }
    device.join();
    housekeeping.join();
    list.clear();
    EXPECT_TRUE(list.save());
    EXPECT_EQ(read_text(path), "");
}

// Ending a cycle loses no device: everything added while cycles end is in exactly one saved list,
// or still in the list afterwards.
TEST(DevList, SaveAndClearLosesNoDevice) {
    ScratchDir dir;
    const std::string path = dir / "devlist.txt";
    devList list(path);
    constexpr int devices = 2000;
    std::atomic<bool> done{false};
    std::thread device([&] {
        for (int i = 0; i < devices; ++i) {
            list.add("10.0.0.1,SN" + std::to_string(i) + ",1.8.4", "dev" + std::to_string(i));
            std::this_thread::yield();
        }
        done = true;
    });
    std::multiset<std::string> saved;
    const auto collect = [&] {
        std::istringstream lines(read_text(path));
        for (std::string line; std::getline(lines, line);)
            saved.insert(line);
    };
    int cycles = 0;
    while (!done) {
        EXPECT_TRUE(list.save_and_clear());
        collect();
        ++cycles;
    }
    device.join();
    EXPECT_TRUE(list.save_and_clear());
    collect();
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(saved.size(), size_t{devices}) << cycles << " cycles";
    for (int i = 0; i < devices; ++i)
        EXPECT_EQ(saved.count("10.0.0.1,SN" + std::to_string(i) + ",1.8.4,dev" + std::to_string(i)),
                  1u);
    EXPECT_FALSE(devList("").save_and_clear());
}

#include "host/system/registry_store.h"

#include "host/system/file_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/host/system/store_test_support.h"

namespace Mav::Host::System {
namespace {
namespace fs = std::filesystem;

const std::string kRoot = "Software\\Mavrendel\\Vantrelo\\";

using test_store::fileText;
using test_store::writeText;

// Every test gets its own XDG_CONFIG_HOME, removed afterwards.
class RegistryStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder_.empty()); }

    fs::path storeFile() const { return folder_ / "vantrelo" / "registry"; }
    std::vector<std::string> filesBesideStore() const {
        return home_.names(storeFile().parent_path());
    }
    // A store with two keys, committed.
    void writeOldStore() {
        RegistryStore store;
        store.setInteger(kRoot + "grain type", 2);
        store.setText(kRoot + "key data", "# 6.0 vantrelo data\n1 2 3\n");
        ASSERT_TRUE(store.commit());
    }
    void expectOldStore() {
        RegistryStore store;
        EXPECT_TRUE(store.load());
        ASSERT_NE(store.value(kRoot + "grain type"), nullptr);
        EXPECT_EQ(*store.value(kRoot + "grain type"), StoreValue::ofInteger(2));
        ASSERT_NE(store.value(kRoot + "key data"), nullptr);
        EXPECT_EQ(store.value(kRoot + "key data")->text, "# 6.0 vantrelo data\n1 2 3\n");
    }

    const test_store::ScratchFolder home_{"vantrelo-store", test_store::ScratchFolder::ConfigHome};
    const fs::path folder_ = home_.path();
};

TEST_F(RegistryStoreTest, LocationFollowsTheEnvironment) {
    EXPECT_EQ(RegistryStore::defaultLocation(), storeFile());
    EXPECT_EQ(RegistryStore().file(), storeFile());
    // A relative or empty XDG_CONFIG_HOME is ignored in favour of ~/.config.
    const char* home = std::getenv("HOME");
    const std::string oldHome = home ? home : "";
    ::setenv("HOME", "/home/someone", 1);
    for (const char* value : {"relative/config", ""}) {
        ::setenv("XDG_CONFIG_HOME", value, 1);
        EXPECT_EQ(RegistryStore::defaultLocation(),
                  fs::path("/home/someone/.config/vantrelo/registry"));
    }
    if (home)
        ::setenv("HOME", oldHome.c_str(), 1);
    else
        ::unsetenv("HOME");
}

TEST_F(RegistryStoreTest, ValuesComeBackByteForByte) {
    std::string everyByte;
    for (int c = 0; c < 256; ++c) everyByte += char(c);
    const std::vector<std::pair<std::string, StoreValue>> values = {
        {kRoot + "grain type", StoreValue::ofInteger(3)},
        {kRoot + "negative", StoreValue::ofInteger(-17)},
        {kRoot + "lowest", StoreValue::ofInteger(INT32_MIN)},
        {kRoot + "highest", StoreValue::ofInteger(INT32_MAX)},
        {kRoot + "key data", StoreValue::ofText("# 6.0 vantrelo data\n0.5 0.25\r\n\n1 2 3\n")},
        {kRoot + "empty", StoreValue::ofText("")},
        {kRoot + "every byte", StoreValue::ofText(everyByte)},
        {kRoot + "end 3 0123456789abcdef", StoreValue::ofText("end 1 x\n")},
        {kRoot + "line\nbreak and spaces ", StoreValue::ofText("  padded  ")},
        {"Software\\Other", StoreValue::ofInteger(1)},
    };
    RegistryStore writer;
    EXPECT_TRUE(writer.load());  // no file yet: an empty store
    for (const auto& [key, value] : values) {
        if (value.type == StoreValue::Type::Integer)
            writer.setInteger(key, value.integer);
        else
            writer.setText(key, value.text);
    }
    writer.createKey(kRoot + "no value");
    EXPECT_EQ(writer.value(kRoot + "grain type")->integer, 3);  // seen before the commit
    ASSERT_TRUE(writer.commit());

    RegistryStore reader;
    ASSERT_TRUE(reader.load());
    for (const auto& [key, value] : values) {
        ASSERT_NE(reader.value(key), nullptr) << key;
        EXPECT_EQ(*reader.value(key), value) << key;
    }
    EXPECT_TRUE(reader.hasKey(kRoot + "no value"));
    EXPECT_EQ(reader.value(kRoot + "no value"), nullptr);
    EXPECT_FALSE(reader.hasKey(kRoot + "never written"));
    EXPECT_EQ(filesBesideStore(), std::vector<std::string>{"registry"});

    // Replacing a value with one of the other type, and creating an existing key, which keeps it.
    reader.setText(kRoot + "grain type", "3");
    reader.createKey(kRoot + "negative");
    ASSERT_TRUE(reader.commit());
    RegistryStore again;
    ASSERT_TRUE(again.load());
    EXPECT_EQ(*again.value(kRoot + "grain type"), StoreValue::ofText("3"));
    EXPECT_EQ(*again.value(kRoot + "negative"), StoreValue::ofInteger(-17));
}

// Two programs that load, change different keys and commit keep each other's keys.
TEST_F(RegistryStoreTest, CommitsMergeWithTheStoreOnDisk) {
    RegistryStore first, second;
    first.load();
    second.load();
    first.setInteger(kRoot + "Install Lightroom", 0);
    second.setText(kRoot + "last image path", "/photos");
    ASSERT_TRUE(first.commit());
    ASSERT_TRUE(second.commit());
    EXPECT_NE(second.value(kRoot + "Install Lightroom"), nullptr);  // commit refreshed it
    RegistryStore reader;
    ASSERT_TRUE(reader.load());
    EXPECT_EQ(*reader.value(kRoot + "Install Lightroom"), StoreValue::ofInteger(0));
    EXPECT_EQ(*reader.value(kRoot + "last image path"), StoreValue::ofText("/photos"));
}

// Each kind of damage: the file is moved aside with a warning, the store reads as empty, and the
// next commit starts a fresh store.
TEST_F(RegistryStoreTest, DamagedStoreIsSetAside) {
    writeOldStore();
    const std::string good = fileText(storeFile());
    std::string flipped = good;
    flipped[good.find("1 2 3")] = '7';  // a changed digit inside a text
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty file", ""},
        {"cut in the end line", good.substr(0, good.size() - 5)},
        {"cut inside a text", good.substr(0, good.find("1 2 3"))},
        {"changed byte", flipped},
        {"trailing bytes", good + "x"},
        {"another header", "vantrelo store 2" + good.substr(good.find('\n'))},
        {"garbage", "\x89PNG\r\n\x1a\n garbage"},
        {"length past the end", "vantrelo store 1\nt 3 99999999999999999999\nabc\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeText(storeFile(), c.bytes);
        RegistryStore store;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(store.load());
        const std::string warning = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(warning.find("is damaged"), std::string::npos) << warning;
        EXPECT_EQ(store.value(kRoot + "grain type"), nullptr);
        EXPECT_FALSE(fs::exists(storeFile()));
        std::vector<std::string> names = filesBesideStore();
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].rfind("registry.damaged-", 0), 0u) << names[0];
        EXPECT_EQ(fileText(storeFile().parent_path() / names[0]), c.bytes);  // kept as it was
        fs::remove(storeFile().parent_path() / names[0]);
    }

    // A commit over a damaged store also sets it aside first, and writes a sound one.
    writeText(storeFile(), "damaged");
    RegistryStore store;
    store.setInteger(kRoot + "grain type", 1);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(store.commit());
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("is damaged"), std::string::npos);
    EXPECT_EQ(filesBesideStore().size(), 2u);
    RegistryStore reader;
    EXPECT_TRUE(reader.load());
    EXPECT_EQ(reader.value(kRoot + "grain type")->integer, 1);
}

// Runs a commit of a large text in a child process whose file-size limit stops the write of the
// temporary file halfway.  With the default action the signal kills the writer mid-write; with
// the signal ignored the write fails and the commit must report it.
int commitInLimitedChild(bool ignoreSignal) {
    const pid_t child = ::fork();
    if (child == 0) {
        rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
        rlimit small{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &small);
        std::signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
        RegistryStore store;
        store.setText(kRoot + "key data", std::string(200000, 'k'));
        store.setInteger(kRoot + "grain type", 0);
        ::_exit(store.commit() ? 0 : 3);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

TEST_F(RegistryStoreTest, WriterKilledMidWriteLeavesTheOldStore) {
    writeOldStore();
    const int status = commitInLimitedChild(false);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    expectOldStore();
    // The dead writer's partial temporary file is still there ...
    std::vector<std::string> names = filesBesideStore();
    ASSERT_EQ(names.size(), 2u);
    const std::string& left = names[0] == "registry" ? names[1] : names[0];
    EXPECT_EQ(left.rfind(temporaryFilePrefix(storeFile()), 0), 0u) << left;
    // ... until the next commit, which clears it away.
    RegistryStore store;
    store.setInteger(kRoot + "grain type", 3);
    ASSERT_TRUE(store.commit());
    EXPECT_EQ(filesBesideStore(), std::vector<std::string>{"registry"});
}

TEST_F(RegistryStoreTest, FailingWriteIsReportedAndLeavesTheOldStore) {
    writeOldStore();
    ::testing::internal::CaptureStderr();
    const int status = commitInLimitedChild(true);
    const std::string warning = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);  // commit returned false
    EXPECT_NE(warning.find("not saved"), std::string::npos) << warning;
    expectOldStore();
    EXPECT_EQ(filesBesideStore(), std::vector<std::string>{"registry"});
}

TEST_F(RegistryStoreTest, ReplaceFileKeepsPermissionsAndFollowsLinks) {
    const fs::path target = folder_ / "preset.txt";
    const fs::path link = folder_ / "link.txt";
    writeText(target, "old");
    ::chmod(target.c_str(), 0640);
    fs::create_symlink(target, link);
    std::string error;
    ASSERT_TRUE(replaceFile(link, "new", error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fileText(target), "new");
    struct stat st {};
    ::stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Rewritten by root, a user's private file stays the user's: otherwise the user could no
    // longer read the settings that are theirs.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(target.c_str(), 4242, 4343), 0);
        ::chmod(target.c_str(), 0600);
        ASSERT_TRUE(replaceFile(target, "newer", error)) << error;
        ::stat(target.c_str(), &st);
        EXPECT_EQ(st.st_uid, 4242u);
        EXPECT_EQ(st.st_gid, 4343u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(fileText(target), "newer");
    }

    // A file its owner made read-only is refused, also for root, which could replace it.
    ::chmod(target.c_str(), 0444);
    EXPECT_FALSE(replaceFile(link, "lost", error));
    EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    EXPECT_NE(fileText(target), "lost");
    ::chmod(target.c_str(), 0640);

    EXPECT_FALSE(replaceFile(folder_ / "missing folder" / "x", "new", error));
    EXPECT_NE(error.find("missing folder"), std::string::npos);
    EXPECT_FALSE(replaceFile(folder_, "new", error));  // a folder is never replaced
}

// Damaged stores set aside within the same second each get a name of their own, however many there
// are: none overwrites an earlier copy.
TEST_F(RegistryStoreTest, EverySetAsideCopyKeepsANameOfItsOwn) {
    // Every name the stamps of this second and the next two could give up to the thousandth
    // copy is taken already.
    fs::create_directories(storeFile().parent_path());
    std::vector<std::string> taken;
    const std::time_t now = std::time(nullptr);
    for (std::time_t second = now; second < now + 3; ++second) {
        std::tm local{};
        ::localtime_r(&second, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
        const std::string base = std::string("registry.damaged-") + stamp;
        taken.push_back(base);
        for (int n = 2; n <= 1000; ++n) taken.push_back(base + "-" + std::to_string(n));
    }
    // Hard links to one file: a name is made in microseconds, where some file systems take a
    // millisecond to create a file, which would let the clock pass the prepared seconds.
    const fs::path first = storeFile().parent_path() / taken.front();
    writeText(first, "earlier");
    for (std::size_t i = 1; i < taken.size(); ++i)
        fs::create_hard_link(first, storeFile().parent_path() / taken[i]);
    for (const char* damage : {"first damage", "second damage"}) {
        writeText(storeFile(), damage);
        RegistryStore store;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(store.load());
        const std::string warning = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(warning.find("moved to"), std::string::npos) << warning;
        EXPECT_FALSE(fs::exists(storeFile()));
    }
    std::vector<std::string> names = filesBesideStore();
    ASSERT_EQ(names.size(), taken.size() + 2);
    std::vector<std::string> copies;
    for (const std::string& name : names) {
        const std::string text = fileText(storeFile().parent_path() / name);
        if (text != "earlier") copies.push_back(text);
    }
    std::sort(copies.begin(), copies.end());
    EXPECT_EQ(copies, (std::vector<std::string>{"first damage", "second damage"}));
}

// A store reached through a link: writing goes to the file the link names, also when that file is
// not there yet, and a damaged file is set aside beside itself while the link stays in place.
TEST_F(RegistryStoreTest, AStoreReachedThroughALinkKeepsTheLink) {
    const fs::path elsewhere = folder_ / "dotfiles";
    fs::create_directories(elsewhere);
    fs::create_directories(storeFile().parent_path());
    fs::create_symlink("../dotfiles/registry", storeFile());  // its target does not exist yet
    {
        RegistryStore store;
        EXPECT_TRUE(store.load());
        store.setInteger(kRoot + "grain type", 2);
        ASSERT_TRUE(store.commit()) << store.lastError();
    }
    EXPECT_TRUE(fs::is_symlink(storeFile()));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(elsewhere / "registry")));
    {
        RegistryStore store;
        EXPECT_TRUE(store.load());
        ASSERT_NE(store.value(kRoot + "grain type"), nullptr);
        EXPECT_EQ(store.value(kRoot + "grain type")->integer, 2);
    }

    writeText(elsewhere / "registry", "damaged");
    {
        RegistryStore store;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(store.load());
        ::testing::internal::GetCapturedStderr();
    }
    EXPECT_TRUE(fs::is_symlink(storeFile()));
    EXPECT_EQ(filesBesideStore(), std::vector<std::string>{"registry"});
    std::vector<std::string> names = home_.names(elsewhere);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("registry.damaged-", 0), 0u) << names[0];
    EXPECT_EQ(fileText(elsewhere / names[0]), "damaged");

    // The commit after it writes a sound store through the link; a damaged one met by the commit
    // is set aside the same way.
    writeText(elsewhere / "registry", "damaged again");
    RegistryStore store;
    store.setInteger(kRoot + "grain type", 3);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(store.commit()) << store.lastError();
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(fs::is_symlink(storeFile()));
    EXPECT_EQ(filesBesideStore(), std::vector<std::string>{"registry"});
    EXPECT_EQ(home_.names(elsewhere).size(), 3u);
    RegistryStore reader;
    EXPECT_TRUE(reader.load());
    EXPECT_EQ(reader.value(kRoot + "grain type")->integer, 3);
}

}  // namespace
}  // namespace Mav::Host::System

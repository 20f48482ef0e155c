// The comparison of two listings and the entry record, without a running watcher.
#include "DirChangeTestSupport.h"

#include <gmock/gmock.h>

namespace {

using desktop::TDirEntry;
using desktop::TDirSnapshot;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

TDirEntry Entry(const std::string& name, std::uint64_t write = 1, std::uint32_t sizeLow = 1) {
    TDirEntry e;
    e.Name = name;
    e.LastWriteTime = write;
    e.SizeLow = sizeLow;
    return e;
}

std::vector<std::string> Compare(const TDirSnapshot& before, const TDirSnapshot& after) {
    desktop::TDirChange watcher;
    dirtest::TRecorder recorder;
    recorder.Bind(watcher);
    EXPECT_TRUE(desktop::RaiseDifferences(watcher, before, after, [] { return true; }));
    return recorder.Log();
}

struct TRuleCase {
    const char* what;
    TDirSnapshot before, after;
    std::vector<std::string> events;
};

TEST(DirChangeRules, EventsFollowTheCountsRule) {
    TDirEntry allChanged = Entry("a", 2, 2);
    allChanged.Attributes = desktop::kAttrReadOnly;
    allChanged.CreationTime = 5;
    allChanged.LastAccessTime = 6;
    TDirEntry highHalf = Entry("a");
    highHalf.SizeHigh = 1;
    const TRuleCase cases[] = {
        {"unchanged", {Entry("a"), Entry("b")}, {Entry("b"), Entry("a")}, {}},
        {"write", {Entry("a")}, {Entry("a", 2)}, {"WriteTime:a", "Any:a"}},
        {"every field, in order, one Any",
         {Entry("a")},
         {allChanged},
         {"Attributes:a", "CreationTime:a", "AccessTime:a", "WriteTime:a", "Size:a", "Any:a"}},
        {"high half of the size", {Entry("a")}, {highHalf}, {"Size:a", "Any:a"}},
        {"deleted", {Entry("a"), Entry("b")}, {Entry("b")}, {"Deleted:a", "Any:a"}},
        {"new", {Entry("a")}, {Entry("a"), Entry("b")}, {"New:b", "Any:b"}},
        {"renamed: as many appeared as disappeared",
         {Entry("a"), Entry("b")},
         {Entry("b"), Entry("c")},
         {"Any:a", "Renamed:c", "Any:c"}},
        {"more disappeared: only deletions",
         {Entry("a"), Entry("b"), Entry("c")},
         {Entry("c", 2), Entry("d")},
         {"Deleted:a", "Any:a", "Deleted:b", "Any:b", "WriteTime:c", "Any:c", "Any:d"}},
        {"more appeared: only new entries",
         {Entry("a")},
         {Entry("b"), Entry("c")},
         {"Any:a", "New:b", "Any:b", "New:c", "Any:c"}},
        {"letter case counts", {Entry("a")}, {Entry("A")}, {"Any:a", "Renamed:A", "Any:A"}},
        {"emptied", {Entry("a")}, {}, {"Deleted:a", "Any:a"}},
    };
    for (const auto& c : cases) {
        EXPECT_THAT(Compare(c.before, c.after), ElementsAreArray(c.events)) << c.what;
    }
}

TEST(DirChangeRules, HandlersGetOldAndNewEntriesAndAnEmptySecondForAppeared) {
    desktop::TDirChange watcher;
    dirtest::TRecorder recorder;
    recorder.Bind(watcher);
    desktop::RaiseDifferences(watcher, {Entry("a", 1), Entry("b")}, {Entry("a", 2), Entry("c")},
                              [] { return true; });
    ASSERT_EQ(recorder.events.size(), 5u);
    EXPECT_EQ(recorder.events[0].first, Entry("a", 1));
    EXPECT_EQ(recorder.events[0].second, Entry("a", 2));
    EXPECT_EQ(recorder.events[4].first, Entry("c"));
    EXPECT_EQ(recorder.events[4].second, TDirEntry{});
}

TEST(DirChangeRules, UnboundEventsAreSkippedAndAnyChangeStillRaised) {
    desktop::TDirChange watcher;
    std::vector<std::string> any;
    watcher.OnAnyChange = [&](desktop::TDirChange&, const TDirEntry& a, const TDirEntry&) {
        any.push_back(a.Name);
    };
    desktop::RaiseDifferences(watcher, {Entry("a"), Entry("b")}, {Entry("b", 3)},
                              [] { return true; });
    EXPECT_THAT(any, ElementsAre("a", "b"));
}

TEST(DirChangeRules, RaisingEndsWhenTheWatcherStops) {
    desktop::TDirChange watcher;
    dirtest::TRecorder recorder;
    recorder.Bind(watcher);
    int asked = 0;
    EXPECT_FALSE(desktop::RaiseDifferences(watcher, {Entry("a")}, {Entry("a", 2, 2)},
                                           [&] { return ++asked < 2; }));
    EXPECT_THAT(recorder.Log(), ElementsAre("WriteTime:a", "Size:a"));
}

TEST(DirChangeRules, FileTimesCount100NanosecondsFrom1601) {
    EXPECT_EQ(desktop::FileTimeFromUnix(0, 0), 116444736000000000u);
    EXPECT_EQ(desktop::FileTimeFromUnix(1, 999), 116444736010000009u);
    EXPECT_EQ(desktop::FileTimeFromUnix(-11644473600, 0), 0u);
    EXPECT_EQ(desktop::FileTimeFromUnix(-11644473601, 0), 0u);
}

TEST(DirChangeEntries, ListingGivesAttributesTimesSizesAndSkipsDotNames) {
    dirtest::TTempDir dir;
    dirtest::CreateFile(dir / "plain", "abc");
    const timespec times[2] = {{1'000'000'000, 500}, {1'000'000'000, 123'456'789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "plain").c_str(), times, 0), 0);
    dirtest::CreateFile(dir / "readonly");
    ASSERT_EQ(::chmod((dir / "readonly").c_str(), 0444), 0);
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    dirtest::CreateFile(dir / ".hidden");
    dirtest::CreateFile(dir / "big");
    ASSERT_EQ(::truncate((dir / "big").c_str(), (5ll << 30) + 7), 0);

    std::map<std::string, TDirEntry> byName;
    for (const auto& e : desktop::TakeSnapshot(dir.path)) {
        byName[e.Name] = e;
    }
    ASSERT_EQ(byName.size(), 4u);
    EXPECT_EQ(byName["plain"].Attributes, 0u);
    EXPECT_EQ(byName["plain"].LastWriteTime, desktop::FileTimeFromUnix(1'000'000'000, 123'456'789));
    EXPECT_EQ(byName["plain"].LastAccessTime, desktop::FileTimeFromUnix(1'000'000'000, 500));
    EXPECT_EQ(byName["plain"].Size(), 3u);
    EXPECT_EQ(byName["readonly"].Attributes, desktop::kAttrReadOnly);
    EXPECT_EQ(byName["sub"].Attributes, desktop::kAttrDirectory);
    EXPECT_EQ(byName["sub"].Size(), 0u);
    EXPECT_EQ(byName["big"].SizeHigh, 1u);
    EXPECT_EQ(byName["big"].SizeLow, (1u << 30) + 7);
    const auto now = desktop::FileTimeFromUnix(::time(nullptr), 0);
    const auto created = byName["plain"].CreationTime;
    EXPECT_TRUE(created == 0 || (created > now - 36'000'000'000ull && created <= now + 10'000'000))
        << created;
}

TEST(DirChangeEntries, AMissingDirectoryListsEmpty) {
    EXPECT_THAT(desktop::TakeSnapshot("/nonexistent-dirchange/"), IsEmpty());
}

} // namespace

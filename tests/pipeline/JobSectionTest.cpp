// The job section in meta.ini and the UTF-16 meta_w.ini: what registration writes and how
// it is read back (missing integers, progress on the old scale).
#include <gtest/gtest.h>

#include "config/IniFile.h"
#include "pipeline/JobSection.h"
#include "tests/helpers/TempHome.h"

namespace {
const char kKey[] = "0123456789ABCDEF0123456789ABCDEF";
}

TEST(JobSection, ProgressIsNormalisedFromTheOlderScale)
{
    EXPECT_EQ(NormaliseProgress(-1), 0);  // missing
    EXPECT_EQ(NormaliseProgress(0), 0);
    EXPECT_EQ(NormaliseProgress(1), 100);
    EXPECT_EQ(NormaliseProgress(500), 50000);
    EXPECT_EQ(NormaliseProgress(1000), 100000);
    EXPECT_EQ(NormaliseProgress(1001), 1001);
    EXPECT_EQ(NormaliseProgress(100000), 100000);
}

TEST(JobSection, TrimRemovesBlanksTabsAndLineFeedsAtBothEnds)
{
    EXPECT_EQ(TrimJobText(" \t/a b/c.pdf\n "), "/a b/c.pdf");
    EXPECT_EQ(TrimJobText("\n\t "), "");
}

TEST(JobSection, RegistrationWritesEveryKeyAndReadsBack)
{
    TempHome home;
    IniFile meta((home.Root() / "meta.ini").string());
    IniFile meta_w((home.Root() / "meta_w.ini").string());
    WriteFileBytes(home.Root() / "meta_w.ini", std::string("\xFF\xFE", 2));

    JobSection job;
    job.pdf_url = "  /books/Ünïcode file.pdf\n";
    job.title = "\t Über \"quoted\" title ";
    job.tags = "a, b";
    job.description = "line one";
    job.pagenum = 12;
    job.pagewidth = 992;
    job.pageheight = 1403;
    job.timestamp = {2026, 12, 1, 7, 23, 5, 9, 42};
    job.params.dpi = 120;
    job.params.preview_quality = 25;
    job.params.city_id = 3;
    job.params.use_ftp = 0;
    job.ftp_url = "ftp.example.org/books";  // not written without use_ftp
    ASSERT_TRUE(WriteJobSection(meta, meta_w, kKey, job));

    EXPECT_EQ(meta.ReadText(kKey, "progress"), "0");
    EXPECT_EQ(meta.ReadText(kKey, "timestamp"), "2026,12,1,7,23,5,9,42,");
    EXPECT_EQ(meta.ReadText(kKey, "ftp_url"), "");
    EXPECT_EQ(meta.ReadInt(kKey, "vazirudu_user"), -1);

    JobSection back = ReadJobSection(meta, meta_w, kKey);
    EXPECT_EQ(back.pdf_url, "/books/Ünïcode file.pdf");
    EXPECT_EQ(back.title, "Über \"quoted\" title");
    EXPECT_EQ(back.tags, "a, b");
    EXPECT_EQ(back.pagenum, 12);
    EXPECT_EQ(back.pagewidth, 992);
    EXPECT_EQ(back.pageheight, 1403);
    EXPECT_EQ(back.params.dpi, 120);
    EXPECT_EQ(back.params.city_id, 3);
    EXPECT_EQ(back.timestamp.milliseconds, 42);

    // The texts are stored as UTF-16 with the byte-order mark, readable by the Windows
    // program: "Über" appears as UTF-16LE code units.
    std::string wide = ReadFileBytes(home.Root() / "meta_w.ini");
    ASSERT_GE(wide.size(), 2u);
    EXPECT_EQ(wide.substr(0, 2), std::string("\xFF\xFE", 2));
    EXPECT_NE(wide.find(std::string("\xDC\x00\x62\x00\x65\x00\x72\x00", 8)), std::string::npos);
}

TEST(JobSection, MissingIntegersReadAsMinusOneAndProgressDecidesFinished)
{
    TempHome home;
    IniFile meta((home.Root() / "meta.ini").string());
    WriteFileBytes(home.Root() / "meta.ini",
                   std::string("[") + kKey + "]\r\npdf_url=/x.pdf\r\nprogress=500\r\n");
    EXPECT_EQ(ReadJobParams(meta, kKey).dpi, -1);
    EXPECT_EQ(ReadJobProgress(meta, kKey), 50000);
    EXPECT_FALSE(IsFinished(meta, kKey));
    ASSERT_TRUE(WriteJobProgress(meta, kKey, 1000));  // old scale: finished
    EXPECT_TRUE(IsFinished(meta, kKey));
    ASSERT_TRUE(WriteJobProgress(meta, kKey, 100000));
    EXPECT_TRUE(IsFinished(meta, kKey));
    EXPECT_EQ(meta.ReadText(kKey, "pdf_url"), "/x.pdf");
}

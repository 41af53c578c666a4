// The progress display's name for the step a job's stored progress stands in.
#include "batch/JobStage.h"

#include "pipeline/PdfJob.h"
#include "publish/UploadPlan.h"

#include <gtest/gtest.h>

namespace {

TEST(JobStageTest, NamesTheConversionStepsAndEachUploadedFolder) {
    EXPECT_EQ(JobStageName(0), "cover");
    EXPECT_EQ(JobStageName(kProgressCoverDone), "book page");
    EXPECT_EQ(JobStageName(kProgressMetadataDone - 1), "metadata");
    // Every folder is named from its first mark to the last one before the next folder.
    for (const FolderStage& stage : kFolderStages) {
        EXPECT_EQ(JobStageName(stage.start_mark), stage.folder);
        EXPECT_EQ(JobStageName(stage.end_mark() - 1), stage.folder);
    }
    EXPECT_EQ(JobStageName(67000), "HighRes");  // where the stopped-upload test stops
    EXPECT_EQ(JobStageName(kMarkStaticDone - 1), "page and search text");
    EXPECT_EQ(JobStageName(kProgressFinished - 1), "finishing");
    EXPECT_EQ(JobStageName(kProgressFinished), "done");
}

}  // namespace

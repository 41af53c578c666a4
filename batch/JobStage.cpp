#include "batch/JobStage.h"

#include "pipeline/PdfJob.h"
#include "publish/UploadPlan.h"

std::string JobStageName(int32_t progress)
{
    struct Step {
        int32_t below;
        const char* name;
    };
    static constexpr Step kConversion[] = {
        {kProgressCoverDone, "cover"},         {kProgressPageDone, "book page"},
        {kProgressSearchDone, "search text"},  {kProgressThumbsDone, "thumbnails"},
        {kProgressZoomDone, "zoom images"},    {kProgressHighDone, "large images"},
        {kProgressMediumDone, "medium images"}, {kProgressLowDone, "small images"},
        {kProgressPrintDone, "print images"},  {kProgressLoginDone, "login"},
        {kProgressMetadataDone, "metadata"},   {kMarkFoldersStart, "publishing"},
        {kMarkFoldersDone, "skin and shared files"}, {kMarkPdfDone, "PDF"},
    };
    for (const Step& step : kConversion)
        if (progress < step.below)
            return step.name;
    for (const FolderStage& stage : kFolderStages)
        if (progress < stage.end_mark())
            return stage.folder;
    if (progress < kMarkStaticDone)
        return "page and search text";
    return progress < kProgressFinished ? "finishing" : "done";
}

// The batch's door to the page analysis.

#include "batch/Batch.h"

bool BatchHasAnalysis()
{
    return false;
}

TBatchFrames AnalyseBatchPage(const QImage&)
{
    return TBatchFrames();
}

// The batch's door to the page analysis: its result turned into the frames
// and the turn the crop works with, by the same plan "Ritaglio automatico"
// follows.

#include "batch/Batch.h"

#ifdef CORVANTA_HAVE_ANALYSIS
#include "analysis/PageAnalysis.h"

namespace {
TRect FromQRect(const QRect& r)
{
    return TRect(r.x(), r.y(), r.x() + r.width(), r.y() + r.height());
}
} // namespace

bool BatchHasAnalysis()
{
    return true;
}

TBatchFrames AnalyseBatchPage(const QImage& page)
{
    TBatchFrames out;
    // The batch already runs one page per core.
    const analysis::PageAnalysis found = analysis::AnalysePage(page, nullptr, false);
    // The toolbar's rotation keeps the picture's size, and so does the batch's.
    const analysis::AutoCropPlan plan = analysis::PlanAutoCrop(found, page.size(), page.size());
    // Clockwise, as the toolbar's rotation and the batch's take it.
    out.Degrees = plan.rotateDegrees;
    out.HasFoto = plan.hasPhoto && !plan.photoFrame.isEmpty();
    out.HasFirma = plan.hasSignature && !plan.signatureFrame.isEmpty();
    out.Foto = FromQRect(plan.photoFrame);
    out.Firma = FromQRect(plan.signatureFrame);
    out.FotoConfidence = found.photo.confidence;
    out.FirmaConfidence = found.signature.confidence;
    return out;
}

#else

bool BatchHasAnalysis()
{
    return false;
}

TBatchFrames AnalyseBatchPage(const QImage&)
{
    return TBatchFrames();
}

#endif

#include "runoutcome.h"

#include "isp/download.h"
#include "isp/hexfile.h"
#include "mywidget.h"

namespace RunOutcome {

QString ofDownload(const Download::Outcome &outcome)
{
    using End = Download::End;
    switch (outcome.end) {
    case End::Success:
        return MyWidget::tr("Done");
    // The adapter would not take the bootloader's line settings: no
    // bootloader step was tried.
    case End::LineRefused:
        return MyWidget::tr("Failed: port settings");
    // The chip cannot hold the image, or not safely: nothing was erased.
    case End::ImageRefused:
        return MyWidget::tr("Failed: image refused");
    case End::IdentifyFailed:
        return MyWidget::tr("Failed: identify");
    case End::VerifyFailed:
        return MyWidget::tr("Failed: read-back");
    case End::GoUnconfirmed:
    case End::LineLostBeforeGo:
        return MyWidget::tr("Failed: Go");
    case End::NoSync:
        return MyWidget::tr("Failed: sync");
    case End::EraseCommandFailed:
    case End::EraseFailed:
        return MyWidget::tr("Failed: erase");
    case End::BlockFailed:
    case End::FinalBlockFailed:
        return MyWidget::tr("Failed: block at %1")
            .arg(Stm32Boot::hexAddress(outcome.failure.address));
    case End::GetIdFailed:
        return MyWidget::tr("Failed: Get ID");
    case End::Aborted:
        break;
    }
    return MyWidget::tr("Failed");
}

QString ofHexFile(const HexError &error)
{
    if (error.kind == HexError::Kind::OpenFailed)
        return MyWidget::tr("Failed: cannot read the file");
    if (error.line > 0)
        return MyWidget::tr("Failed: file line %1").arg(error.line);
    return MyWidget::tr("Failed: file");
}

QString portNotOpened()
{
    return MyWidget::tr("Failed: port");
}

} // namespace RunOutcome

#include "runoutcome.h"

#include "isp/download.h"
#include "isp/hexfile.h"
#include "mywidget.h"

namespace RunOutcome {

QString ofDownload(const Download::Outcome &outcome)
{
    if (outcome.end == Download::End::Success)
        return MyWidget::tr("Done");
    // The adapter would not take the bootloader's line settings: no
    // bootloader step was tried.
    if (outcome.end == Download::End::LineRefused)
        return MyWidget::tr("Failed: port settings");
    const Stm32Boot::Result &failed = outcome.failure;
    switch (failed.step) {
    case Stm32Boot::Step::Sync:
        return MyWidget::tr("Failed: sync");
    case Stm32Boot::Step::GetId:
        return MyWidget::tr("Failed: Get ID");
    case Stm32Boot::Step::EraseCommand:
    case Stm32Boot::Step::GlobalErase:
        return MyWidget::tr("Failed: erase");
    case Stm32Boot::Step::WriteCommand:
    case Stm32Boot::Step::WriteAddress:
    case Stm32Boot::Step::WriteData:
        return MyWidget::tr("Failed: block at %1")
            .arg(QStringLiteral("0x") + QString::number(failed.address, 16).toUpper().rightJustified(8, QLatin1Char('0')));
    case Stm32Boot::Step::GoCommand:
    case Stm32Boot::Step::GoAddress:
        return MyWidget::tr("Failed: Go");
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

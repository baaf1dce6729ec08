#include "export/list_export.h"

#include "export/desktop_associations.h"
#include "export/export_file.h"
#include "platform/locations.h"
#include "platform/message_box.h"
#include "platform/qt_text.h"
#include "platform/result.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMimeDatabase>
#include <QWidget>
#include <optional>

namespace {

const QString kCaption = QStringLiteral("提示");

ExportOpener& CurrentOpener()
{
    static ExportOpener opener;
    return opener;
}

// The window is disabled and the cursor busy while the sheet is written; both come back
// however the writing ends.
class BusyWindow {
public:
    explicit BusyWindow(QWidget* window) : window_(window)
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        window_->setEnabled(false);
    }
    ~BusyWindow()
    {
        QApplication::restoreOverrideCursor();
        window_->setEnabled(true);
    }
    BusyWindow(const BusyWindow&) = delete;
    BusyWindow& operator=(const BusyWindow&) = delete;

private:
    QWidget* window_;
};

void ShowExportError(QWidget* window, const QString& text)
{
    ShowMessage(window, text, kCaption, MessageIcon::Error);
}

// The opening call alone says nothing: xdg-open starts, and fails later, without a program.
bool OpenInDesktopProgram(const QUrl& file)
{
    const QString type = QMimeDatabase().mimeTypeForFile(file.toLocalFile(), QMimeDatabase::MatchExtension).name();
    return HasProgramFor(type.toStdString(), DesktopAssociationFiles()) && QDesktopServices::openUrl(file);
}

} // namespace

void SetExportOpener(ExportOpener opener)
{
    CurrentOpener() = std::move(opener);
}

void ExportListToExcel(const QAbstractItemModel& list, QWidget* window, int itemColumns)
{
    ExportListToExcelFile(list, window, itemColumns, ExportFilePath());
}

void ExportListToExcelFile(const QAbstractItemModel& list, QWidget* window, int itemColumns, const std::string& path)
{
    const QString shownPath = ToQString(path);
    std::optional<BusyWindow> busy;
    const Result<ExportOutcome> outcome = ExportList(list, itemColumns, path, [&] { busy.emplace(window); });
    busy.reset();
    if (!outcome) {
        ShowExportError(window, QStringLiteral("导出Excel文件失败，") + shownPath + QStringLiteral(" 未被改动：\n")
                                    + ToQString(outcome.error().reason));
        return;
    }
    switch (*outcome) {
    case ExportOutcome::NothingToExport:
        return;
    case ExportOutcome::HeldOpen:
        ShowExportError(window, QStringLiteral("请先关闭的Excel文件  ") + shownPath + QStringLiteral("."));
        return;
    case ExportOutcome::SymbolicLink:
        ShowExportError(window, QStringLiteral("导出文件 ") + shownPath
                                    + QStringLiteral(" 是一个符号链接，为安全起见不写入。请先将它删除或改名。"));
        return;
    case ExportOutcome::Written:
        break;
    }
    const QUrl file = QUrl::fromLocalFile(shownPath);
    if (!(CurrentOpener() ? CurrentOpener() : OpenInDesktopProgram)(file))
        ShowMessage(
            window,
            QStringLiteral("表格已保存为：\n") + shownPath
                + QStringLiteral("\n电脑上没有能打开它的表格程序，请安装表格程序（如 LibreOffice）后再打开这个文件。"),
            kCaption, MessageIcon::Information);
}

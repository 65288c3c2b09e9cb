#include "report_viewer/ReportExport.h"

#include "platform/core/CodePage1251.h"
#include "platform/core/DaraPaths.h"
#include "platform/core/Exceptions.h"
#include "platform/core/StagedFile.h"
#include "platform/ui/HtmlView.h"
#include "platform/ui/MessageBoxes.h"
#include "platform/ui/OfficeLauncher.h"
#include "platform/ui/UserTempFolder.h"
#include "report_viewer/ReportSettings.h"

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

ExportClock& exportClock() {
    static ExportClock clock;
    return clock;
}

QDateTime now() {
    return exportClock() ? exportClock()() : QDateTime::currentDateTime();
}

// Every office export together, however many conversions it takes.
constexpr int kConversionLimitMs = 120000;

const QString kExcelFilter = QStringLiteral("Calc MS Excel 2007 XML");

// How LibreOffice reads the report and writes the document of each office target.
struct TOfficeTarget {
    QString importFilter;
    QString exportFilter;
    QString extension;
    // The document is opened as a new, untitled one rather than as the file.
    bool asNewDocument;
    // A spreadsheet: the import keeps only pictures read from files.
    bool spreadsheet;
    // The import leaves its pictures linked to their files, and so would the document; written
    // as a workbook first, they are inside it, and the document made from it keeps them there.
    bool viaWorkbook;
};

TOfficeTarget officeTarget(int index) {
    const QString writer = QStringLiteral("HTML (StarWriter)");
    const QString calc = QStringLiteral("HTML (StarCalc)");
    switch (index) {
    case etWord:
        return {
            writer, QStringLiteral("docx:MS Word 2007 XML"), QStringLiteral("docx"), false, false,
            false};
    case etExcel:
        return {calc, QStringLiteral("xlsx:") + kExcelFilter, QStringLiteral("xlsx"), false, true,
                false};
    case etWriter:
        return {writer, QStringLiteral("odt:writer8"), QStringLiteral("odt"), true, false, false};
    default:
        return {calc, QStringLiteral("ods:calc8"), QStringLiteral("ods"), true, true, true};
    }
}

QString makeFolder(const QString& folder) {
    if (!QDir().mkpath(folder))
        throw EOSError(QStringLiteral("Не удалось создать папку %1").arg(folder));
    return QDir(folder).absolutePath();
}

QString exportFolder() {
    return makeFolder(mapDaraPath(ReadExportFolder()));
}

// A name in `folder` that no file has yet: "ОТЧЕТ 240809 1530.docx", then "... (2).docx".
QString freshName(const QString& folder, const QString& extension) {
    const QString base = QDir(folder).filePath(ExportFileBaseName(now()));
    QString path = base + QLatin1Char('.') + extension;
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QStringLiteral("%1 (%2).%3").arg(base, QString::number(n), extension);
    return path;
}

// The templates of new Writer and Calc documents stay until LibreOffice has read them, which
// the viewer cannot know; a day later they surely have been.
QString templateFolder() {
    const QString folder = makeFolder(userTempFolder() + QStringLiteral("torvi-office-documents"));
    const QDateTime dayAgo = QDateTime::currentDateTime().addDays(-1);
    QDirIterator old(folder, QDir::Files);
    while (old.hasNext()) {
        old.next();
        if (old.fileInfo().lastModified() < dayAgo)
            QFile::remove(old.filePath());
    }
    return folder;
}

// A new document of the target holding the report, opened in LibreOffice where there is a
// screen; where there is none it is left in the export folder and the operator is told so.
void makeOfficeDocument(int index, const QByteArray& htmlText, QWidget* parent) {
    const TOfficeTarget target = officeTarget(index);
    const bool shown = OfficeLauncher::canShowDocuments();
    const QString folder = target.asNewDocument && shown ? templateFolder() : exportFolder();
    const QString document = freshName(folder, target.extension);

    QTemporaryDir work(userTempFolder() + QStringLiteral("torvi-report-XXXXXX"));
    if (!work.isValid())
        throw EOSError(
            QStringLiteral("Не удалось создать временную папку: %1").arg(work.errorString()));
    const QString source = work.filePath(QStringLiteral("report.html"));
    writeWholeFile(source, OfficeHtml(htmlText, target.spreadsheet ? work.path() : QString()));

    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        const QDeadlineTimer limit(kConversionLimitMs);
        if (target.viaWorkbook) {
            const QString workbook = work.filePath(QStringLiteral("report.xlsx"));
            OfficeLauncher::convert(source, target.importFilter,
                                    QStringLiteral("xlsx:") + kExcelFilter, workbook,
                                    int(limit.remainingTime()));
            OfficeLauncher::convert(workbook, kExcelFilter, target.exportFilter, document,
                                    int(std::max<qint64>(limit.remainingTime(), 1)));
        } else {
            OfficeLauncher::convert(source, target.importFilter, target.exportFilter, document,
                                    kConversionLimitMs);
        }
    }
    if (shown)
        OfficeLauncher::openDocument(document, target.asNewDocument);
    else
        MessageBoxes::information(
            parent, QStringLiteral("Документ сохранен в файл \"%1\". Открыть его в LibreOffice "
                                   "здесь нельзя: у сеанса нет экрана.")
                        .arg(QDir::toNativeSeparators(document)));
}

// Word and Excel: not installed is a notice; a failure while the document is made is reported
// with the target's name; anything else goes on to the caller with its context.
void exportToMsOffice(int index, const QString& name, const QByteArray& htmlText, QWidget* parent) {
    try {
        OfficeLauncher::executable();
        try {
            makeOfficeDocument(index, htmlText, parent);
        } catch (const EOfficeStartError&) {
            throw;
        } catch (const Exception& e) {
            MessageBoxes::error(parent, QStringLiteral("Ошибка экспорта в ") + name +
                                            QStringLiteral(": ") + kCrLf + e.message());
        }
    } catch (const EOfficeNotInstalled& e) {
        MessageBoxes::information(parent,
                                  name + QStringLiteral(" не установлен на вашем компьютере:") +
                                      kCrLf + e.message());
    } catch (const Exception& e) {
        ExceptionWithContext(e, QStringLiteral("Экспорт в ") + name, true)->raise();
    }
}

void exportToOpenOffice(int index, const QString& name, const QByteArray& htmlText,
                        QWidget* parent) {
    try {
        OfficeLauncher::executable();
        try {
            makeOfficeDocument(index, htmlText, parent);
        } catch (const EOfficeStartError&) {
            throw Exception(QStringLiteral("Возникли проблемы при подключении к OpenOffice!"));
        }
    } catch (const EOfficeNotInstalled& e) {
        MessageBoxes::information(parent,
                                  QStringLiteral("OpenOffice не установлен на вашем компьютере") +
                                      kCrLf + e.message());
    } catch (const Exception& e) {
        ExceptionWithContext(e, QStringLiteral("Экспорт в ") + name, true)->raise();
    }
}

void exportToHtmlFile(const QByteArray& htmlText, QWidget* parent) {
    QFileDialog dialog(parent, QStringLiteral("Сохранить отчет"), exportFolder(),
                       QStringLiteral("HTML-файлы (*.html);;HTM-файлы (*.htm);;Все файлы (*)"));
    dialog.setObjectName(QStringLiteral("SaveHTMLDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("html"));
    dialog.selectFile(ExportFileBaseName(now()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    writeWholeFile(path, htmlText);
    MessageBoxes::information(
        parent, QStringLiteral("Отчет сохранен в файл \"%1\"").arg(QDir::toNativeSeparators(path)));
}

} // namespace

QStringList ExportTargetCaptions() {
    return {QStringLiteral("Microsoft Word"),    QStringLiteral("Microsoft Excel"),
            QStringLiteral("OpenOffice Writer"), QStringLiteral("OpenOffice Calc"),
            QStringLiteral("буфер обмена"),      QStringLiteral("HTML-файл")};
}

QString ExportFileBaseName(const QDateTime& at) {
    return QStringLiteral("ОТЧЕТ ") + at.toString(QStringLiteral("ddMMyy HHmm"));
}

ExportClock SetExportClock(ExportClock clock) {
    ExportClock previous = std::move(exportClock());
    exportClock() = std::move(clock);
    return previous;
}

QByteArray OfficeHtml(const QByteArray& htmlText, const QString& pictureFolder) {
    QString html = CodePage1251::decode(htmlText);
    static const QRegularExpression charset(QStringLiteral("charset\\s*=\\s*windows-1251"),
                                            QRegularExpression::CaseInsensitiveOption);
    html.replace(charset, QStringLiteral("charset=utf-8"));
    static const QRegularExpression picture(
        QStringLiteral("(<img\\b[^>]*\\bsrc\\s*=\\s*\")([^\"]+)(\")"),
        QRegularExpression::CaseInsensitiveOption);
    QString result;
    qsizetype done = 0;
    int pictures = 0;
    for (auto it = picture.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QString source = match.captured(2);
        const QImage image(source.startsWith(QLatin1String("data:")) ? QString()
                                                                     : mapDaraPath(source));
        QByteArray png;
        QBuffer buffer(&png);
        // A picture that cannot be read keeps its name; the document then shows it missing.
        if (!image.isNull() && buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG")) {
            if (pictureFolder.isEmpty()) {
                source =
                    QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
            } else {
                source = QStringLiteral("picture%1.png").arg(++pictures);
                writeWholeFile(QDir(pictureFolder).filePath(source), png);
            }
        }
        result += html.mid(done, match.capturedStart(2) - done) + source;
        done = match.capturedEnd(2);
    }
    result += html.mid(done);
    return result.toUtf8();
}

void ExportReport(int index, const QString& name, HtmlView& view, const QByteArray& htmlText,
                  QWidget* parent) {
    const bool viaClipboard = index >= etWord && index <= etClipboard;
    if (viaClipboard) {
        view.selectAll();
        view.copy();
    }
    const auto clearSelection = qScopeGuard([&] {
        if (viaClipboard)
            view.clearSelection();
    });
    try {
        switch (index) {
        case etWord:
        case etExcel:
            exportToMsOffice(index, name, htmlText, parent);
            break;
        case etWriter:
        case etCalc:
            exportToOpenOffice(index, name, htmlText, parent);
            break;
        case etHtmlFile:
            exportToHtmlFile(htmlText, parent);
            break;
        default:
            break;
        }
    } catch (const std::exception& e) {
        MessageBoxes::error(parent, QStringLiteral("В ходе выполнения данной операции произошла "
                                                   "ошибка:") +
                                        ExceptionMessage(e));
    }
}

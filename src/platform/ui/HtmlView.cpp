#include "platform/ui/HtmlView.h"

#include "platform/core/CodePage1251.h"
#include "platform/core/DaraPaths.h"
#include "platform/core/Exceptions.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

// The five text sizes of a browser's text-size menu, relative to the document's own.
constexpr double kTextSizeFactor[] = {0.7, 0.85, 1.0, 1.2, 1.5};

// A picture keeps the size the document gave it here, so that zooming back gives it again.
constexpr int kOriginalWidth = QTextFormat::UserProperty + 1;
constexpr int kOriginalHeight = QTextFormat::UserProperty + 2;

void clearBackgrounds(QTextDocument& document) {
    QList<QTextFrame*> frames{document.rootFrame()};
    while (!frames.isEmpty()) {
        QTextFrame* frame = frames.takeFirst();
        QTextFrameFormat format = frame->frameFormat();
        format.clearBackground();
        frame->setFrameFormat(format);
        if (auto* table = qobject_cast<QTextTable*>(frame))
            for (int row = 0; row < table->rows(); ++row)
                for (int column = 0; column < table->columns(); ++column) {
                    QTextTableCell cell = table->cellAt(row, column);
                    QTextCharFormat cellFormat = cell.format();
                    cellFormat.clearBackground();
                    cell.setFormat(cellFormat);
                }
        frames += frame->childFrames();
    }
    for (QTextBlock block = document.begin(); block != document.end(); block = block.next()) {
        QTextCursor cursor(block);
        QTextBlockFormat blockFormat = block.blockFormat();
        blockFormat.clearBackground();
        cursor.setBlockFormat(blockFormat);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        QTextCharFormat charFormat;
        charFormat.setBackground(Qt::NoBrush);
        cursor.mergeCharFormat(charFormat);
    }
}

} // namespace

HtmlView::HtmlView(QWidget* parent)
    : QTextBrowser(parent) {
    setOpenLinks(false);
    m_basePointSize = document()->defaultFont().pointSizeF();
}

void HtmlView::navigate(const QString& filePath) {
    m_loaded = false;
    // The view reads the file itself, where an error cannot be reported: find out here.
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        throw EOSError(
            QStringLiteral("Не удалось открыть отчет %1: %2").arg(filePath, file.errorString()));
    file.close();
    setSource(QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath()),
              QTextDocument::HtmlResource);
    m_basePointSize = font().pointSizeF();
    fitColumnsToContent();
    m_loaded = true;
    applyLook();
    // A browser reports completion after the navigation call has returned; callers count on it.
    QTimer::singleShot(0, this, [this] {
        if (m_loaded)
            emit documentComplete();
    });
}

void HtmlView::fitColumnsToContent() {
    QList<QTextFrame*> frames{document()->rootFrame()};
    while (!frames.isEmpty()) {
        QTextFrame* frame = frames.takeFirst();
        frames += frame->childFrames();
        auto* table = qobject_cast<QTextTable*>(frame);
        if (!table)
            continue;
        QTextTableFormat format = table->format();
        QList<QTextLength> widths = format.columnWidthConstraints();
        bool changed = false;
        for (QTextLength& width : widths)
            if (width.type() == QTextLength::PercentageLength) {
                width = QTextLength();
                changed = true;
            }
        if (changed) {
            format.setColumnWidthConstraints(widths);
            table->setFormat(format);
        }
    }
}

void HtmlView::setTextSize(int size) {
    m_textSize = std::clamp(size, 0, 4);
    applyLook();
}

void HtmlView::setZoom(double factor) {
    m_zoom = factor > 0 ? factor : 1;
    applyLook();
}

void HtmlView::scrollByPixels(int dx, int dy) {
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + dx);
    verticalScrollBar()->setValue(verticalScrollBar()->value() + dy);
}

void HtmlView::clearSelection() {
    QTextCursor cursor = textCursor();
    cursor.clearSelection();
    setTextCursor(cursor);
}

void HtmlView::applyLook() {
    QTextDocument* doc = document();
    QFont font = doc->defaultFont();
    if (m_basePointSize > 0)
        font.setPointSizeF(m_basePointSize * kTextSizeFactor[m_textSize] * m_zoom);
    doc->setDefaultFont(font);

    struct Picture {
        int from;
        int length;
        QTextImageFormat format;
    };
    QList<Picture> pictures;
    for (QTextBlock block = doc->begin(); block != doc->end(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isImageFormat())
                pictures.append({fragment.position(), fragment.length(),
                                 fragment.charFormat().toImageFormat()});
        }
    for (Picture& picture : pictures) {
        QTextImageFormat& format = picture.format;
        if (!format.hasProperty(kOriginalWidth)) {
            QSizeF size(format.width(), format.height());
            if (size.width() <= 0 || size.height() <= 0) {
                const QImage image =
                    doc->resource(QTextDocument::ImageResource, QUrl(format.name()))
                        .value<QImage>();
                if (size.width() <= 0)
                    size.setWidth(image.width());
                if (size.height() <= 0)
                    size.setHeight(image.height());
            }
            format.setProperty(kOriginalWidth, size.width());
            format.setProperty(kOriginalHeight, size.height());
        }
        format.setWidth(format.doubleProperty(kOriginalWidth) * m_zoom);
        format.setHeight(format.doubleProperty(kOriginalHeight) * m_zoom);
        QTextCursor cursor(doc);
        cursor.setPosition(picture.from);
        cursor.setPosition(picture.from + picture.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(format);
    }
}

void HtmlView::printDocument(QPrinter* printer, bool printBackground) {
    std::unique_ptr<QTextDocument> copy(document()->clone(this));
    if (!printBackground)
        clearBackgrounds(*copy);
    QPainter painter;
    if (!painter.begin(printer))
        throw EOSError(QStringLiteral("Принтер не готов к печати"));
    // The document is laid out in screen pixels over the printable width, as a browser prints;
    // a page whose content is wider than that is shrunk to fit rather than cut off.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double screenDpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    const double toDevice = printer->logicalDpiX() / screenDpi;
    const QRectF printable = printer->pageRect(QPrinter::DevicePixel);
    const QSizeF page(printable.width() / toDevice, printable.height() / toDevice);
    copy->setPageSize(page);
    double shrink = 1;
    const double used = copy->documentLayout()->documentSize().width();
    if (used > page.width() + 0.5) {
        shrink = page.width() / used;
        copy->setPageSize(page / shrink);
    }
    const QSizeF laidOut = copy->pageSize();
    painter.scale(toDevice * shrink, toDevice * shrink);
    for (int i = 0; i < copy->pageCount(); ++i) {
        if (i > 0 && !printer->newPage())
            throw EOSError(QStringLiteral("Принтер не принял следующую страницу"));
        const QRectF area(0, i * laidOut.height(), laidOut.width(), laidOut.height());
        painter.save();
        painter.translate(0, -area.top());
        copy->drawContents(&painter, area);
        painter.restore();
    }
    if (!painter.end())
        throw EOSError(QStringLiteral("Печать не завершена: принтер не принял задание"));
}

QString HtmlView::localPath(const QUrl& name) const {
    const QString text = name.toString(QUrl::PreferLocalFile);
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:[\\\\/]"));
    if (drive.match(text).hasMatch())
        return mapDaraPath(text);
    if (name.isLocalFile())
        return name.toLocalFile();
    if (QDir::isAbsolutePath(text))
        return text;
    return QFileInfo(QFileInfo(source().toLocalFile()).absolutePath(), text).absoluteFilePath();
}

QVariant HtmlView::loadResource(int type, const QUrl& name) {
    const QString path = localPath(name);
    if (type == QTextDocument::ImageResource) {
        QImage image(path);
        return image.isNull() ? QVariant() : QVariant(image);
    }
    if (type != QTextDocument::HtmlResource)
        return QTextBrowser::loadResource(type, name);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QVariant();
    const QByteArray bytes = file.readAll();
    // The suite's reports declare windows-1251; the codec for it may be missing from Qt.
    QStringDecoder decoder = QStringDecoder::decoderForHtml(bytes);
    const QByteArray head = bytes.left(1024).toLower();
    if (!decoder.isValid() || head.contains("windows-1251"))
        return CodePage1251::decode(bytes);
    return QString(decoder.decode(bytes));
}

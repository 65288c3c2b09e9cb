#pragma once

#include <QTextBrowser>

class QPrinter;

// An HTML view for finished reports: opens a local file, tells when the document is complete,
// scales text and pictures, sets one of five text sizes, scrolls by pixels and prints. Paths of
// the suite's folders in the document ("C:\DARA\TEMP\...") are found under the suite's root, and
// an HTML file is read in the code page its meta line declares.
class HtmlView : public QTextBrowser {
    Q_OBJECT

public:
    explicit HtmlView(QWidget* parent = nullptr);

    // Loads the file now; documentComplete follows from the event loop.
    void navigate(const QString& filePath);
    bool isDocumentLoaded() const { return m_loaded; }

    // 0 smallest .. 4 largest, 2 the document's own size; other values are limited to that.
    void setTextSize(int size);
    int textSize() const { return m_textSize; }
    // Factor of text and pictures (1.5 shows everything half as big again).
    void setZoom(double factor);
    double zoom() const { return m_zoom; }

    void scrollByPixels(int dx, int dy);
    void clearSelection();

    // Prints the document at its current size; without backgrounds unless asked for them.
    void printDocument(QPrinter* printer, bool printBackground);

    QVariant loadResource(int type, const QUrl& name) override;

signals:
    void documentComplete();

private:
    void applyLook();
    // A browser never makes a column narrower than its longest word, whatever share of the
    // width the page asks for; the rich-text layout would break the words. Columns given as a
    // share of the width are therefore sized by their content, as a browser ends up doing.
    void fitColumnsToContent();
    QString localPath(const QUrl& name) const;

    bool m_loaded = false;
    int m_textSize = 2;
    double m_zoom = 1;
    qreal m_basePointSize = 0;
};

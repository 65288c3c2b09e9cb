#include "platform/chart/ChartView.h"

#include "platform/chart/ChartModel.h"
#include "platform/core/Exceptions.h"
#include "platform/core/StagedFile.h"
#include "platform/core/StatValueText.h"

#include <QApplication>
#include <QBuffer>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGraphicsItem>
#include <QGraphicsLayout>
#include <QImage>
#include <QImageWriter>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRubberBand>
#include <QSet>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

// The QChartView inside the widget. It does its own rubber band instead of Qt's, because Qt's
// swallows the press that a click on a point needs and zooms out on a right click behind the
// model's back.
class ChartCanvas : public QChartView {
public:
    ChartCanvas(QChart* chart, ChartView* owner)
        : QChartView(chart, owner)
        , m_owner(owner)
        , m_band(new QRubberBand(QRubberBand::Rectangle, viewport())) {
        setRenderHint(QPainter::Antialiasing);
        setRubberBand(QChartView::NoRubberBand);
        setFrameShape(QFrame::NoFrame);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && chart()->plotArea().contains(toChart(event))) {
            m_pressed = true;
            m_dragging = false;
            m_origin = event->position().toPoint();
            event->accept();
            return;
        }
        QChartView::mousePressEvent(event);
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        if (!m_pressed) {
            QChartView::mouseMoveEvent(event);
            return;
        }
        const QPoint pos = event->position().toPoint();
        if (!m_dragging &&
            (pos - m_origin).manhattanLength() >= QApplication::startDragDistance()) {
            m_dragging = true;
            m_band->show();
        }
        if (m_dragging)
            m_band->setGeometry(QRect(m_origin, pos).normalized());
        event->accept();
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (!m_pressed || event->button() != Qt::LeftButton) {
            QChartView::mouseReleaseEvent(event);
            return;
        }
        m_pressed = false;
        m_band->hide();
        const QPointF from = toChart(m_origin);
        const QPointF to = toChart(event);
        event->accept();
        if (m_dragging)
            m_owner->dragFinished(from, to);
        else
            m_owner->clickAt(to);
    }

private:
    QPointF toChart(const QPoint& viewportPos) const {
        return chart()->mapFromScene(mapToScene(viewportPos));
    }
    QPointF toChart(const QMouseEvent* event) const { return toChart(event->position().toPoint()); }

    ChartView* m_owner;
    QRubberBand* m_band;
    QPoint m_origin;
    bool m_pressed = false;
    bool m_dragging = false;
};

// The marks: each point's value written above it. Qt Charts would write them itself, but only in
// its own number format ("19 465,9", "1,23457E+06"), while the operator reads every other value
// of the statistics as "19465,86"; so the view draws them over the series.
class ChartMarks : public QGraphicsItem {
public:
    struct Mark {
        QPointF value;
        QString text;
        QColor color;
        // Pixels between the point and the text's baseline.
        double lift;
        QLineSeries* line;
    };

    explicit ChartMarks(QChart* chart)
        : QGraphicsItem(chart)
        , m_chart(chart) {
        setZValue(1000); // over the series
    }

    QRectF boundingRect() const override { return m_chart->rect(); }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        if (m_marks.isEmpty())
            return;
        painter->save();
        painter->setClipRect(m_chart->plotArea());
        painter->setFont(m_font);
        const QFontMetricsF metrics(m_font);
        for (const Mark& mark : std::as_const(m_marks)) {
            const QPointF at = m_chart->mapToPosition(mark.value, mark.line);
            painter->setPen(mark.color);
            painter->drawText(
                QPointF(at.x() - metrics.horizontalAdvance(mark.text) / 2, at.y() - mark.lift),
                mark.text);
        }
        painter->restore();
    }

    void setMarks(QList<Mark> marks) {
        m_marks = std::move(marks);
        update();
    }
    const QList<Mark>& marks() const { return m_marks; }

    // The chart was laid out anew: the marks move with their points.
    void relayout() {
        prepareGeometryChange();
        update();
    }

private:
    QChart* m_chart;
    QFont m_font;
    QList<Mark> m_marks;
};

namespace {

// Room a bottom axis label needs besides its text, in pixels: Qt Charts pads labels on both
// sides before it decides whether to elide them.
constexpr double kLabelGap = 16;
// How far from a marker's edge a click still hits the point, in pixels.
constexpr double kClickSlack = 3;

// Marker size in pixels as drawn: a marker of the model's size must stand out of a line of the
// series' width, or the points disappear into a thick line.
double markerExtent(const ChartSeries& series) {
    return series.markerSize() + series.lineWidth() + 1;
}

QPolygonF regularPolygon(int corners, double radius, double startDegrees, double innerRadius) {
    QPolygonF polygon;
    const int vertices = innerRadius > 0 ? corners * 2 : corners;
    for (int i = 0; i < vertices; ++i) {
        const double r = (innerRadius > 0 && i % 2 == 1) ? innerRadius : radius;
        const double angle = qDegreesToRadians(startDegrees + 360.0 * i / vertices);
        polygon << QPointF(r * std::cos(angle), r * std::sin(angle));
    }
    return polygon;
}

// Qt Charts draws only circles for the points of a line series; every shape, the circle
// included, is therefore drawn as a light marker image, so that all shapes look alike. The image
// is drawn at four times the marker size and scaled down by Qt Charts, which keeps the edges
// smooth.
QImage markerImage(ChartMarkerShape shape, const QColor& color, double extent) {
    constexpr int kScale = 4;
    const int side = std::max(4, int(std::ceil(extent)) * kScale);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(side / 2.0, side / 2.0);
    painter.setPen(QPen(color.darker(160), kScale));
    painter.setBrush(color);
    const double r = side / 2.0 - kScale;
    switch (shape) {
    case ChartMarkerShape::Circle:
        painter.drawEllipse(QPointF(0, 0), r, r);
        break;
    case ChartMarkerShape::Rectangle:
        painter.drawRect(QRectF(-r * 0.85, -r * 0.85, r * 1.7, r * 1.7));
        break;
    case ChartMarkerShape::Diamond:
        painter.drawPolygon(regularPolygon(4, r, -90, 0));
        break;
    case ChartMarkerShape::Triangle:
        painter.drawPolygon(regularPolygon(3, r, -90, 0));
        break;
    case ChartMarkerShape::Star:
        painter.drawPolygon(regularPolygon(5, r, -90, r * 0.45));
        break;
    case ChartMarkerShape::Pentagon:
        painter.drawPolygon(regularPolygon(5, r, -90, 0));
        break;
    }
    return image;
}

QString titleHtml(const QStringList& lines) {
    QStringList escaped;
    escaped.reserve(lines.size());
    for (const QString& line : lines)
        escaped << line.toHtmlEscaped();
    return QStringLiteral("<center>%1</center>").arg(escaped.join(QStringLiteral("<br>")));
}

} // namespace

int chartLabelStride(int pointCount, double axisLength, double labelExtent) {
    if (pointCount <= 1 || !(axisLength > 0) || !(labelExtent > 0))
        return 1;
    // Qt Charts gives every category label the axis length divided by the number of labels plus
    // one, and elides what does not fit, so that share is what a label must fit into.
    const double fitting = std::floor(axisLength / labelExtent) - 1;
    if (!(fitting >= 1))
        return pointCount;
    if (fitting >= pointCount)
        return 1;
    return int(std::ceil(pointCount / fitting));
}

ChartView::ChartView(ChartModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_chart(new QChart)
    , m_axisX(new QCategoryAxis)
    , m_axisY(new QValueAxis) {
    m_chart->setBackgroundRoundness(0);
    m_chart->layout()->setContentsMargins(0, 0, 0, 0);
    QFont titleFont = m_chart->titleFont();
    titleFont.setBold(true);
    m_chart->setTitleFont(titleFont);
    m_chart->setLocalizeNumbers(true);
    m_chart->setLocale(QLocale());
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->legend()->setVisible(false);
    // Many lines share one row of legend, and their names are shortened to fit: the whole name
    // is under the pointer.
    m_chart->legend()->setShowToolTips(true);
    m_axisX->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    m_axisX->setGridLineVisible(true);
    m_axisY->setLabelFormat(QStringLiteral("%.10g"));
    m_chart->addAxis(m_axisX, Qt::AlignBottom);
    m_chart->addAxis(m_axisY, Qt::AlignLeft);

    m_marks = new ChartMarks(m_chart);
    m_canvas = new ChartCanvas(m_chart, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_canvas);

    connect(m_chart, &QChart::plotAreaChanged, this, [this] {
        updateBottomLabels(false);
        m_marks->relayout();
    });
    if (!m_model)
        return;
    connect(m_model, &QObject::destroyed, this, &ChartView::modelDestroyed);
    connect(m_model, &ChartModel::seriesAdded, this, &ChartView::markDirty);
    connect(m_model, &ChartModel::seriesRemoved, this, &ChartView::markDirty);
    connect(m_model, &ChartModel::seriesChanged, this, &ChartView::markDirty);
    connect(m_model, &ChartModel::pointAdded, this, &ChartView::onPointAdded);
    connect(m_model, &ChartModel::pointsCleared, this, &ChartView::markDirty);
    connect(m_model, &ChartModel::titlesChanged, this, &ChartView::markDirty);
    connect(m_model, &ChartModel::pagingChanged, this, &ChartView::markDirty);
    connect(m_model, &ChartModel::zoomChanged, this, &ChartView::markDirty);
    connect(m_model, &ChartModel::visibleChanged, this, &QWidget::setVisible);
    if (!m_model->isVisible())
        hide();
}

ChartView::~ChartView() = default;

QChartView* ChartView::chartView() const {
    return m_canvas;
}

void ChartView::markDirty() {
    m_dirty = true;
    // A hidden view waits for showEvent; one queued refresh serves any number of changes.
    if (m_refreshQueued || !isVisible())
        return;
    m_refreshQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            // Hidden since it was queued, as a run hides the chart it has just cleared: the
            // change stays marked for showEvent.
            if (isVisible())
                refresh();
            else
                m_refreshQueued = false;
        },
        Qt::QueuedConnection);
}

void ChartView::onPointAdded(int /*seriesIndex*/, int /*pointIndex*/) {
    // The model tells only of points on the current page.
    markDirty();
}

void ChartView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void ChartView::refreshNow() {
    refresh();
}

void ChartView::refresh() {
    m_refreshQueued = false;
    if (!m_dirty || !m_model)
        return;
    m_dirty = false;
    syncSeries();
    updatePageData();
    updateTitles();
    updateLegend();
    emit refreshed();
}

void ChartView::syncSeries() {
    while (m_lines.size() < m_model->seriesCount()) {
        auto* line = new QLineSeries;
        m_chart->addSeries(line);
        line->attachAxis(m_axisX);
        line->attachAxis(m_axisY);
        m_lines.append(line);
    }
    if (m_lines.size() > m_model->seriesCount())
        m_marks->setMarks({}); // they point at the lines about to go
    while (m_lines.size() > m_model->seriesCount()) {
        QLineSeries* line = m_lines.takeLast();
        m_chart->removeSeries(line);
        delete line;
    }
}

void ChartView::applySeriesLook(const ChartSeries& series, QLineSeries* line) {
    QPen pen(series.color(), series.lineWidth());
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    // An earlier period beside its series, in the same colour: told apart by the dashes.
    if (series.isCompanion())
        pen.setStyle(Qt::DashLine);
    line->setPen(pen);
    line->setName(series.title());
    line->setPointsVisible(series.isMarkerVisible());
    if (series.isMarkerVisible()) {
        const double extent = markerExtent(series);
        line->setMarkerSize(extent);
        line->setLightMarker(markerImage(series.markerShape(), series.color(), extent));
    } else {
        line->setLightMarker(QImage());
    }
    line->setVisible(series.isActive());
}

void ChartView::updatePageData() {
    const int first = m_model->pageFirstPoint();
    const int perPage = m_model->pointsPerPage();
    double minX = std::numeric_limits<double>::infinity();
    double maxX = -minX;
    double minY = 0; // the value axis starts at 0 unless a value lies below it
    double maxY = -std::numeric_limits<double>::infinity();
    const ChartSeries* labelSource = nullptr;
    QList<ChartMarks::Mark> marks;
    std::optional<TFormatSettings> settings;

    for (int s = 0; s < m_model->seriesCount(); ++s) {
        const ChartSeries& series = *m_model->series(s);
        QLineSeries* line = m_lines[s];
        applySeriesLook(series, line);
        const int end = std::min(series.count(), first + perPage);
        QList<QPointF> points;
        points.reserve(std::max(0, end - first));
        for (int i = first; i < end; ++i) {
            const ChartPoint& p = series.point(i);
            points.append(QPointF(p.x, p.y));
            if (series.isActive()) {
                minX = std::min(minX, p.x);
                maxX = std::max(maxX, p.x);
                minY = std::min(minY, p.y);
                maxY = std::max(maxY, p.y);
            }
        }
        // Configurations are kept by index across a replace, so the old page's go first.
        line->clearPointsConfiguration();
        line->replace(points);
        for (int i = first; i < end; ++i) {
            const QColor& color = series.point(i).color;
            if (color.isValid() && color != series.color())
                line->setPointConfiguration(i - first, QXYSeries::PointConfiguration::Color, color);
        }
        if (!labelSource && series.isActive() && end > first)
            labelSource = &series;
        if (series.isActive() && series.areMarksVisible()) {
            if (!settings)
                settings = TFormatSettings::workstation();
            const double lift =
                (series.isMarkerVisible() ? markerExtent(series) : series.lineWidth()) / 2 + 2;
            const QColor color = series.color().darker(140);
            for (int i = first; i < end; ++i) {
                const ChartPoint& p = series.point(i);
                marks.append({QPointF(p.x, p.y), StatValueText(p.y, *settings), color, lift, line});
            }
        }
    }
    m_marks->setMarks(std::move(marks));

    if (m_model->isZoomed()) {
        const QRectF zoom = m_model->zoomRect();
        minX = zoom.left();
        maxX = zoom.right();
        minY = zoom.top();
        maxY = zoom.bottom();
    } else {
        if (!(minX <= maxX)) {
            minX = 0;
            maxX = 1;
        }
        // Half a point's spacing on either side keeps the edge markers inside the plot area.
        const int shown = labelSource ? std::min(labelSource->count() - first, perPage) : 1;
        const double pad = shown > 1 ? (maxX - minX) / (2.0 * (shown - 1)) : 0.5;
        minX -= pad > 0 ? pad : 0.5;
        maxX += pad > 0 ? pad : 0.5;
        if (!(maxY > minY))
            maxY = minY + 1;
    }
    m_axisX->setRange(minX, maxX);
    m_axisY->setRange(minY, maxY);
    if (!m_model->isZoomed())
        m_axisY->applyNiceNumbers();

    m_labelCandidates.clear();
    if (labelSource) {
        const int end = std::min(labelSource->count(), first + perPage);
        for (int i = first; i < end; ++i) {
            const ChartPoint& p = labelSource->point(i);
            if (p.x >= minX && p.x <= maxX)
                m_labelCandidates.append({p.x, p.label});
        }
    }
    updateBottomLabels(true);
}

void ChartView::updateBottomLabels(bool force) {
    double plotWidth = m_chart->plotArea().width();
    if (!(plotWidth > 0)) // not laid out yet; the first layout calls again
        plotWidth = std::max(100, width() - 100);
    const QFontMetricsF metrics(m_axisX->labelsFont());
    double widest = 0;
    for (const LabelCandidate& candidate : std::as_const(m_labelCandidates))
        widest = std::max(widest, metrics.horizontalAdvance(candidate.label));
    const int stride =
        chartLabelStride(int(m_labelCandidates.size()), plotWidth, widest + kLabelGap);
    if (!force && stride == m_labelStride)
        return;
    m_labelStride = stride;

    for (const QString& label : m_axisX->categoriesLabels())
        m_axisX->remove(label);
    m_axisX->setStartValue(m_axisX->min());
    // Category labels must be unique; equal point labels get invisible zero-width suffixes.
    QSet<QString> used;
    double lastX = -std::numeric_limits<double>::infinity();
    for (qsizetype i = 0; i < m_labelCandidates.size(); i += stride) {
        const LabelCandidate& candidate = m_labelCandidates[i];
        if (candidate.label.isEmpty() || !(candidate.x > lastX))
            continue;
        QString label = candidate.label;
        while (used.contains(label))
            label += QChar(0x200B);
        used.insert(label);
        m_axisX->append(label, candidate.x);
        lastX = candidate.x;
    }
    // A category axis without categories lays its title out at the top of the chart; a blank
    // category keeps an empty chart's axis in place.
    if (m_axisX->count() == 0)
        m_axisX->append(QStringLiteral(" "), m_axisX->max());
    // Appending categories may have moved the range.
    const double min = m_axisX->min();
    const double max = m_axisX->max();
    m_axisX->setRange(min, max);
}

void ChartView::updateTitles() {
    m_chart->setTitle(titleHtml(m_model->titleLines()));
    m_axisX->setTitleText(m_model->bottomAxisTitle().toHtmlEscaped());
    m_axisY->setTitleText(m_model->leftAxisTitle().toHtmlEscaped());
}

void ChartView::updateLegend() {
    QLegend* legend = m_chart->legend();
    legend->setVisible(m_model->isLegendVisible());
    for (int s = 0; s < m_model->seriesCount(); ++s) {
        const bool shown = m_model->series(s)->isShownInLegend();
        for (QLegendMarker* marker : legend->markers(m_lines[s]))
            marker->setVisible(shown);
    }
}

QStringList ChartView::markTexts() const {
    QStringList texts;
    for (const ChartMarks::Mark& mark : m_marks->marks())
        texts << mark.text;
    return texts;
}

void ChartView::modelDestroyed() {
    m_marks->setMarks({});
    m_chart->removeAllSeries();
    m_lines.clear();
    m_labelCandidates.clear();
    for (const QString& label : m_axisX->categoriesLabels())
        m_axisX->remove(label);
    m_chart->setTitle(QString());
}

void ChartView::clickAt(const QPointF& chartPos) {
    if (!m_model)
        return;
    refresh();
    const int first = m_model->pageFirstPoint();
    const QRectF plot = m_chart->plotArea();
    int bestSeries = -1;
    int bestPoint = -1;
    double bestDistance = std::numeric_limits<double>::infinity();
    // Later series are drawn on top, so they win a tie.
    for (int s = m_model->seriesCount() - 1; s >= 0; --s) {
        const ChartSeries& series = *m_model->series(s);
        if (!series.isActive())
            continue;
        const double extent = series.isMarkerVisible() ? markerExtent(series) : series.lineWidth();
        const double reach = extent / 2 + kClickSlack;
        const int end = std::min(series.count(), first + m_model->pointsPerPage());
        for (int i = first; i < end; ++i) {
            const ChartPoint& p = series.point(i);
            const QPointF pos = m_chart->mapToPosition(QPointF(p.x, p.y), m_lines[s]);
            if (!plot.adjusted(-reach, -reach, reach, reach).contains(pos))
                continue;
            const double distance = std::hypot(pos.x() - chartPos.x(), pos.y() - chartPos.y());
            if (distance <= reach && distance < bestDistance) {
                bestDistance = distance;
                bestSeries = s;
                bestPoint = i;
            }
        }
    }
    if (bestSeries >= 0)
        emit pointClicked(bestSeries, bestPoint);
}

void ChartView::dragFinished(const QPointF& fromChartPos, const QPointF& toChartPos) {
    if (!m_model || m_lines.isEmpty())
        return;
    if (toChartPos.x() < fromChartPos.x()) {
        m_model->undoZoom();
        return;
    }
    const QRectF plot = m_chart->plotArea();
    const QRectF dragged = QRectF(fromChartPos, toChartPos).normalized().intersected(plot);
    if (dragged.width() < 2 || dragged.height() < 2)
        return;
    const QPointF a = m_chart->mapToValue(dragged.topLeft(), m_lines.first());
    const QPointF b = m_chart->mapToValue(dragged.bottomRight(), m_lines.first());
    m_model->zoomIn(QRectF(a, b).normalized());
}

QImage ChartView::renderImage() {
    refresh();
    if (QLayout* l = layout())
        l->activate();
    return grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void ChartView::saveToBmp(const QString& path) {
    const QImage image = renderImage();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!QImageWriter(&buffer, "BMP").write(image))
        throw EOSError(QStringLiteral("Не удалось записать рисунок диаграммы в файл %1: рисунок не "
                                      "удалось преобразовать в формат BMP")
                           .arg(QDir::toNativeSeparators(path)));
    writeWholeFile(path, bytes);
}

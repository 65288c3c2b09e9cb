#include "windows/ChainStat.h"

#include "extraction/ChainExtractor.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"
#include "platform/data/servers/StatServerChoice.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/DmStatistic.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>

using namespace StatControls;

namespace {

const QString kCaption = QStringLiteral("Статистика сети АЗС");
const QString kAllRegions = QStringLiteral("Все регионы");

QListWidgetItem* checkItem(const QString& text, QListWidget* list) {
    auto* item = new QListWidgetItem(text, list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    return item;
}

} // namespace

TfmChainStat::TfmChainStat(TdmStatistic& dm, QWidget* parent)
    : TStatWindow(dm, parent,
                  {.formName = QStringLiteral("fmChainStat"),
                   .caption = kCaption,
                   .schemaCaptionName = QStringLiteral("Label1"),
                   .clientSize = QSize(918, 698),
                   .schemas = fuelSchemas(),
                   .stepGroupName = QStringLiteral("gbDim"),
                   .multiGraphCaption = QStringLiteral("разбить по АЗС"),
                   .leftAxisTitle = QStringLiteral("Литры"),
                   .reportTitle = QStringLiteral("Сеть АЗС"),
                   // Beyond the frame's own: fuel or goods. The stations and items follow the
                   // catalogue, which changes between sessions.
                   .storedValues = {QStringLiteral("cbKind.ItemIndex")}}) {
    buildControls();
    finishCreation({gbStations, gbKind});
    // One station's shifts mean nothing for a chain.
    for (QWidget* shift : {static_cast<QWidget*>(lbSmena), static_cast<QWidget*>(lbSmenaNum),
                           static_cast<QWidget*>(bbtSmena)})
        shift->hide();
    connect(cbKind, &QComboBox::currentIndexChanged, this, [this] { cbKindChange(); });
    connect(cbRegion, &QComboBox::currentIndexChanged, this, [this] { cbRegionChange(); });
    connect(chbAllStations, &QCheckBox::clicked, this, [this] { chbAllStationsClick(); });
    connect(clbStations, &QListWidget::itemChanged, this, [this] { clbStationsChange(); });
    connect(bbtSelectAll, &QPushButton::clicked, this, [this] { bbtSelectAllClick(); });
}

TChainExtractor* TfmChainStat::Extractor() const {
    return extractorAs<TChainExtractor>();
}

bool TfmChainStat::FuelChosen() const {
    return cbKind->currentIndex() != 1;
}

void TfmChainStat::buildControls() {
    gbStations = groupBox(Panel1, "gbStations", QStringLiteral("АЗС сети"));
    cbRegion = comboBox(gbStations, "cbRegion", {kAllRegions}, 0, false);
    clbStations = named(new QListWidget(gbStations), "clbStations");
    chbAllStations = named(new QCheckBox(QStringLiteral("все"), gbStations), "chbAllStations");
    chbAllStations->setChecked(true);
    setGroupLayout(gbStations, {cbRegion, clbStations, chbAllStations}, 1);

    gbKind = groupBox(Panel1, "gbKind", QStringLiteral("Продажи"));
    cbKind =
        comboBox(gbKind, "cbKind", {QStringLiteral("Топливо"), QStringLiteral("Товары")}, 0, false);
    clbItems = named(new QListWidget(gbKind), "clbItems");
    bbtSelectAll = named(new QPushButton(deselectAllText(), gbKind), "bbtSelectAll");
    bbtSelectAll->setAutoDefault(false);
    chbMultiGraph->setParent(gbKind);
    setGroupLayout(gbKind, {cbKind, clbItems, bbtSelectAll, chbMultiGraph}, 1);
}

void TfmChainStat::FormShow() {
    TdmStatistic& dm = DataModule();
    // The server the data module's connections would reach, as they decide it.
    dm.DCOMConnection1BeforeConnect(dm.DCOMConnection1);
    m_server = dm.DCOMConnection1.computerName();
    setWindowTitle(QStringLiteral("%1 [Сервер: %2]").arg(kCaption, m_server));
    auto extractor = std::make_unique<TChainExtractor>(0, fromQDateTime(dtpDateFrom->dateTime()),
                                                       fromQDateTime(dtpDateTo->dateTime()), 0,
                                                       Chart(), this, TrackBar1);
    extractor->SetServer(m_server, chooseStatServer);
    setExtractor(std::move(extractor));
    clearResults();
    m_stations.clear();
    {
        const QSignalBlocker blockStations(clbStations);
        const QSignalBlocker blockRegions(cbRegion);
        clbStations->clear();
        cbRegion->clear();
        cbRegion->addItem(kAllRegions);
        try {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            m_stations = readChainStations(m_server);
            QApplication::restoreOverrideCursor();
        } catch (const std::exception& e) {
            QApplication::restoreOverrideCursor();
            MessageBoxes::error(this, ExceptionMessage(e));
            return;
        }
        QStringList regions;
        for (const TChainStation& station : m_stations) {
            checkItem(station.name, clbStations);
            if (!station.region.isEmpty() && !regions.contains(station.region))
                regions << station.region;
        }
        cbRegion->addItems(regions);
        chbAllStations->setChecked(true);
    }
    if (m_stations.isEmpty()) {
        MessageBoxes::information(
            this, QStringLiteral("В каталоге сети на сервере «%1» нет ни одной АЗС. АЗС вносит в "
                                 "каталог программа torvi-stationdb с ключом --station")
                      .arg(m_server));
        return;
    }
    cbKindChange();
}

void TfmChainStat::cbKindChange() {
    const bool fuel = FuelChosen();
    // Another kind: a list of its own, all checked.
    clbItems->clear();
    m_items.clear();
    m_itemsStation.clear();
    cbSchema->clear();
    cbSchema->addItems(fuel ? fuelSchemas() : goodsSchemas());
    cbSchema->setCurrentIndex(0);
    gbKind->setTitle(fuel ? QStringLiteral("Продажи: виды топлива")
                          : QStringLiteral("Продажи: категории"));
    loadItems();
}

void TfmChainStat::followFirstStation() {
    const TChainStations chosen = checkedStations();
    if (!chosen.isEmpty() && chosen.first().name != m_itemsStation)
        loadItems(true);
}

void TfmChainStat::loadItems(bool quiet) {
    if (m_stations.isEmpty())
        return;
    // The chain's stations mostly sell the same grades and keep the same categories; the first
    // station chosen names them, and the run matches them by name or number at every station.
    const TChainStations chosen = checkedStations();
    const TChainStation station = chosen.isEmpty() ? m_stations.first() : chosen.first();
    const bool fuel = FuelChosen();
    TQueryItems items;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        TDCOMConnection connection(chooseStatServer);
        ConnectToStation(connection, m_server, station);
        TClientDataSet set;
        set.setRemoteServer(&connection);
        set.setProviderName(fuel ? QStringLiteral("dspGSM") : QStringLiteral("dspCategory"));
        set.open();
        const TField& name =
            set.fieldByName(fuel ? QStringLiteral("GsmName") : QStringLiteral("Name"));
        const TField* id = fuel ? nullptr : &set.fieldByName(QStringLiteral("ID_Category"));
        for (set.first(); !set.eof(); set.next())
            items.append({name.asString(), id ? id->asInteger() : 0});
        set.close();
        connection.close();
    } catch (const std::exception& e) {
        QApplication::restoreOverrideCursor();
        // While the operator picks stations the list he has stays; he hears of a station he
        // cannot read when he builds.
        if (!quiet)
            MessageBoxes::error(
                this, QStringLiteral("АЗС «%1»: %2").arg(station.name, ExceptionMessage(e)));
        return;
    }
    QApplication::restoreOverrideCursor();
    // The operator's unchecked lines stay unchecked in the new list.
    QStringList unchecked;
    for (int i = 0; i < clbItems->count(); ++i)
        if (clbItems->item(i)->checkState() != Qt::Checked)
            unchecked << clbItems->item(i)->text();
    clbItems->clear();
    m_items = items;
    m_itemsStation = station.name;
    for (const TQueryItem& item : m_items)
        checkItem(item.Name, clbItems)
            ->setCheckState(unchecked.contains(item.Name) ? Qt::Unchecked : Qt::Checked);
    bbtSelectAll->setText(deselectAllText());
}

void TfmChainStat::cbRegionChange() {
    const QString region = cbRegion->currentIndex() > 0 ? cbRegion->currentText() : QString();
    for (int i = 0; i < clbStations->count() && i < m_stations.size(); ++i)
        clbStations->item(i)->setHidden(!region.isEmpty() && m_stations[i].region != region);
    clbStationsChange();
}

void TfmChainStat::chbAllStationsClick() {
    const QSignalBlocker block(clbStations);
    const Qt::CheckState state = chbAllStations->isChecked() ? Qt::Checked : Qt::Unchecked;
    for (int i = 0; i < clbStations->count(); ++i)
        if (!clbStations->item(i)->isHidden())
            clbStations->item(i)->setCheckState(state);
    followFirstStation();
}

void TfmChainStat::clbStationsChange() {
    bool all = true;
    for (int i = 0; i < clbStations->count() && all; ++i)
        all = clbStations->item(i)->isHidden() || clbStations->item(i)->checkState() == Qt::Checked;
    {
        const QSignalBlocker block(chbAllStations);
        chbAllStations->setChecked(all);
    }
    followFirstStation();
}

void TfmChainStat::bbtSelectAllClick() {
    toggleAllChecked(bbtSelectAll, clbItems);
}

TChainStations TfmChainStat::checkedStations() const {
    TChainStations chosen;
    for (int i = 0; i < clbStations->count() && i < m_stations.size(); ++i) {
        const QListWidgetItem* item = clbStations->item(i);
        if (!item->isHidden() && item->checkState() == Qt::Checked)
            chosen << m_stations[i];
    }
    return chosen;
}

void TfmChainStat::bbtGoClick() {
    if (!periodChecked() || !Extractor())
        return;
    const TChainStations stations = checkedStations();
    if (stations.isEmpty()) {
        MessageBoxes::show(this, QStringLiteral("Ошибка"),
                           QStringLiteral("Не выбрана ни одна АЗС!"), MessageBoxes::Icon::Warning);
        return;
    }
    TQueryItems items;
    for (int i = 0; i < clbItems->count() && i < m_items.size(); ++i)
        if (clbItems->item(i)->checkState() == Qt::Checked)
            items << m_items[i];
    if (items.isEmpty()) {
        MessageBoxes::show(this, QStringLiteral("Ошибка"),
                           FuelChosen() ? QStringLiteral("Не указан вид топлива!")
                                        : QStringLiteral("Не выбрана ни одна категория товаров!"),
                           MessageBoxes::Icon::Warning);
        return;
    }
    if (chbMultiGraph->isChecked() && stations.size() > MaxSplitStations) {
        MessageBoxes::information(this, QStringLiteral("Разбить по АЗС можно не больше %1 АЗС, "
                                                       "а выбрано %2")
                                            .arg(MaxSplitStations)
                                            .arg(stations.size()));
        return;
    }
    Extractor()->SetStations(stations);
    startRun(items, FuelChosen());
}

QString TfmChainStat::ReportSubject() const {
    QStringList names;
    if (const TChainExtractor* extractor = Extractor())
        for (const TChainStation& station : extractor->Stations())
            names << station.name;
    return TChainExtractor::ChainTitle(names);
}

std::unique_ptr<QDialog> CreateChainStatistics(QWidget* applicationWindow, TdmStatistic& dm) {
    auto window = std::make_unique<TfmChainStat>(dm, applicationWindow);
    window->setWindowModality(Qt::ApplicationModal);
    return window;
}

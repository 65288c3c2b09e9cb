// Values from the host that the plug-in cannot use: the messages name them readably, whatever
// their type or length.
#include "common/Errors.h"
#include "plugin/VariantValue.h"

#include <QTest>

#include <cstdlib>
#include <cstring>

class TestHostileHostValues : public QObject {
    Q_OBJECT

private slots:
    void unusableValues_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unknown type")
            << 65535 << QByteArray()
            << "Не удалось преобразовать значение типа 65535 в целое число";
        QTest::newRow("1 MB of text")
            << int(TORVI_VT_BSTR) << QByteArray(1 << 20, 'x')
            << "Не удалось преобразовать значение «" + QString(240, QLatin1Char('x')) + "…" +
                   QString(60, QLatin1Char('x')) + " (всего 1048576 символов)» в целое число";
    }
    void unusableValues() {
        QFETCH(int, type);
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        VariantValue value;
        TorviVariant* raw = value.out();
        raw->vt = uint16_t(type);
        if (type == TORVI_VT_BSTR) {
            raw->value.str = static_cast<char*>(std::malloc(size_t(text.size()) + 1));
            std::memcpy(raw->value.str, text.constData(), size_t(text.size()) + 1);
        }
        QCOMPARE(errorOf<EConvertError>([&] { value.toInt(); }), expected);
    }
};

QTEST_GUILESS_MAIN(TestHostileHostValues)
#include "tst_hostilehostvalues.moc"

#include "StationGenerator.h"

#include "platform/core/Exceptions.h"

#include <QVariant>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

// A generator of our own: the standard distributions differ between library versions, and the
// files must come out the same everywhere.
class Random {
public:
    explicit Random(quint64 seed)
        : m_state(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    quint64 next() {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) * 0x1.0p-53; }
    int below(int n) { return int(uniform() * n); }
    double normal() {
        const double u = 1.0 - uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * uniform());
    }
    template <size_t N>
    int pick(const std::array<double, N>& weights) {
        double total = 0;
        for (double w : weights)
            total += w;
        double x = uniform() * total;
        for (size_t i = 0; i < N; ++i) {
            if ((x -= weights[i]) < 0)
                return int(i);
        }
        return int(N - 1);
    }

private:
    quint64 m_state;
};

struct Grade {
    const char* name;
    double share;
    double price; // roubles per litre on the first day
    double meanLitres;
};

const std::array<Grade, 6> kGrades{{
    {"АИ-80", 0.03, 17.40, 20},
    {"АИ-92", 0.42, 20.50, 32},
    {"АИ-95", 0.30, 22.30, 30},
    {"АИ-98", 0.04, 25.90, 35},
    {"ДТ", 0.16, 19.80, 55},
    {"Газ", 0.05, 11.20, 30},
}};

// Fillings per hour of the day: quiet nights, the morning and evening rush.
const std::array<double, 24> kHourWeights{0.25, 0.18, 0.12, 0.10, 0.12, 0.25, 0.7, 1.6,
                                          2.0,  1.5,  1.1,  1.1,  1.3,  1.3,  1.1, 1.1,
                                          1.4,  2.1,  2.2,  1.7,  1.2,  0.9,  0.6, 0.4};

const char* const kOperators[] = {"Иванова Е.В.", "Петров С.А.", "Сидоренко О.И.", "Кузнецов А.Н.",
                                  "Морозова Т.П."};

// One shelf of the shop: kinds of article, the makes or flavours each kind comes in, and the
// packs. Every kind in every make and pack is one article, as a shop's list has them.
struct ShopShelf {
    const char* category;
    double price; // roubles for an ordinary pack
    std::vector<const char*> kinds;
    std::vector<const char*> makes;
    std::vector<const char*> packs;
};

// A station shop's shelves: drinks, snacks, food, tobacco, oils and fluids, car care and the
// odds and ends. Category names fit the 20 characters the category list stores; one category
// has no name, as stations have after a careless import, and a few names carry an apostrophe,
// which the query texts must quote.
const std::vector<ShopShelf>& shopShelves() {
    static const std::vector<ShopShelf> shelves{
        {"Вода",
         35,
         {"Вода питьевая", "Вода минеральная", "Вода газированная"},
         {"Родниковая", "Святой Источник", "Ессентуки", "Нарзан", "Боржоми", "Липецкая",
          "Аква Минерале", "Бон Аква", "Архыз", "Шишкин лес"},
         {" 0,33 л", " 0,5 л", " 1 л", " 1,5 л", " 5 л", " 19 л"}},
        {"Газированные напитки",
         55,
         {"Кола", "Лимонад", "Тоник", "Ситро", "Дюшес"},
         {"Классик", "Zero", "O'Cola", "Черноголовка", "Добрый", "Fanta", "Sprite", "Буратино"},
         {" 0,33 л", " 0,5 л", " 1 л", " 1,5 л", " 2 л"}},
        {"Соки",
         70,
         {"Сок яблочный", "Сок апельсиновый", "Сок томатный", "Нектар персиковый",
          "Сок мультифрукт", "Сок вишнёвый", "Сок ананасовый", "Сок грейпфрутовый"},
         {"Добрый", "Rich", "Любимый", "Я"},
         {" 0,2 л", " 0,97 л", " 1,93 л"}},
        {"Морсы и компоты",
         60,
         {"Морс клюквенный", "Морс брусничный", "Компот вишнёвый"},
         {"Домашний", "Северный"},
         {" 0,3 л", " 1 л"}},
        {"Энергетики",
         95,
         {"Энергетик классический", "Энергетик без сахара", "Энергетик ягодный"},
         {"Adrenaline", "Burn", "Red Bull", "Flash", "Gorilla", "Monster", "Tornado", "Drive Me",
          "Lit Energy"},
         {" 0,25 л", " 0,449 л"}},
        {"Холодный чай",
         60,
         {"Чай холодный лимон", "Чай холодный персик", "Чай зелёный"},
         {"Липтон", "Фьюз", "Нести"},
         {" 0,5 л", " 1 л", " 1,5 л"}},
        {"Квас",
         50,
         {"Квас хлебный", "Квас окрошечный", "Квас светлый"},
         {"Очаковский", "Никола", "Лидский"},
         {" 0,5 л", " 1 л", " 2 л"}},
        {"Молочные напитки",
         65,
         {"Молоко", "Кефир", "Йогурт питьевой", "Коктейль молочный"},
         {"Простоквашино", "Домик в деревне", "Агуша"},
         {" 0,3 л", " 0,5 л", " 0,9 л"}},
        {"Кофе с собой",
         90,
         {"Кофе американо", "Кофе капучино", "Кофе латте", "Кофе раф", "Кофе эспрессо", "Какао",
          "Кофе флэт уайт", "Кофе мокко"},
         {"", " ванильный", " карамельный", " ореховый"},
         {" 0,2 л", " 0,3 л", " 0,4 л"}},
        {"Кофе в банках",
         120,
         {"Кофе холодный", "Кофе растворимый 3в1"},
         {"Jacob's", "Nescafe", "Starbucks"},
         {" 0,22 л", " 10 пак."}},
        {"Чай горячий",
         45,
         {"Чай чёрный", "Чай зелёный", "Чай травяной", "Чай фруктовый"},
         {"Гринфилд", "Ахмад", "Майский", "Lipton", "Tess", "Curtis"},
         {" 0,3 л", " 0,4 л"}},
        {"Чипсы",
         85,
         {"Чипсы сметана и лук", "Чипсы сыр", "Чипсы бекон", "Чипсы краб", "Чипсы соль"},
         {"Lay's", "Pringles", "Московский картофель", "Estrella", "Cheetos", "Big Bon",
          "Русская картошка"},
         {" 40 г", " 70 г", " 150 г", " 225 г", " 300 г"}},
        {"Сухарики",
         40,
         {"Сухарики ржаные", "Сухарики пшеничные", "Гренки чесночные"},
         {"Кириешки", "Три корочки", "Хрустим"},
         {" 40 г", " 100 г"}},
        {"Орехи и семечки",
         120,
         {"Арахис солёный", "Фисташки", "Миндаль", "Кешью", "Семечки подсолнечные",
          "Семечки тыквенные"},
         {"Джаз", "От Мартина", "Белочка", "Мистер Орех", "Кедровый"},
         {" 50 г", " 100 г", " 200 г"}},
        {"Снеки мясные",
         150,
         {"Колбаски охотничьи", "Джерки говяжьи", "Чипсы мясные"},
         {"Мясной снек", "Egoiste", "Дымов"},
         {" 40 г", " 70 г"}},
        {"Рыбные снеки",
         130,
         {"Кальмар сушёный", "Анчоус", "Рыбка янтарная", "Щупальца"},
         {"Бирка", "Морской", "Ставрида"},
         {" 36 г", " 70 г"}},
        {"Шоколад",
         75,
         {"Шоколад молочный", "Шоколад горький", "Шоколад с орехом", "Шоколад белый",
          "Шоколад с изюмом"},
         {"Алёнка", "Milka", "Россия", "Бабаевский", "Ritter Sport", "Коркунов", "Merci", "Kinder"},
         {" 45 г", " 90 г", " 100 г", " 200 г"}},
        {"Батончики",
         50,
         {"Батончик ореховый", "Батончик карамельный", "Батончик мюсли", "Батончик протеиновый"},
         {"Snickers", "Mars", "Twix", "O'Zera", "Bounty", "Nuts", "KitKat", "Picnic", "Milky Way"},
         {"", " макси"}},
        {"Жевательная резинка",
         30,
         {"Жвачка мятная", "Жвачка фруктовая", "Жвачка арбуз"},
         {"Orbit", "Dirol", "Eclipse", "Mentos", "Wrigley's", "Love is", "Стиморол"},
         {" 13,6 г", " 10 шт."}},
        {"Конфеты",
         60,
         {"Драже", "Леденцы", "Мармелад", "Ирис", "Зефир"},
         {"M&M's", "Skittles", "Ментос", "Фруттелла", "Haribo", "Chupa Chups", "Мамба",
          "Рот Фронт"},
         {" 38 г", " 100 г"}},
        {"Печенье",
         55,
         {"Печенье овсяное", "Крекер", "Вафли", "Пряники"},
         {"Юбилейное", "Любятово", "Яшкино", "Коломенское"},
         {" 100 г", " 200 г", " 300 г", " 500 г"}},
        {"Выпечка",
         45,
         {"Круассан", "Пирожок с капустой", "Булочка с маком", "Слойка с вишней", "Пирожок с мясом",
          "Ватрушка"},
         {"", " свежий", " с собой"},
         {""}},
        {"Хот-доги",
         110,
         {"Хот-дог классический", "Хот-дог французский", "Хот-дог датский"},
         {"", " с сыром", " с луком", " двойной"},
         {" малый", " большой"}},
        {"Сэндвичи",
         130,
         {"Сэндвич с курицей", "Сэндвич с ветчиной", "Сэндвич с тунцом", "Ролл с курицей",
          "Бургер"},
         {"", " острый", " с сыром"},
         {""}},
        {"Готовая еда",
         180,
         {"Салат овощной", "Лапша быстрого приготовления", "Пюре с котлетой", "Суп"},
         {"Доширак", "Роллтон", "Домашний", "Биг Ланч", "Ролтон Экспресс"},
         {" малый", " большой"}},
        {"Мороженое",
         55,
         {"Пломбир", "Эскимо", "Фруктовый лёд", "Рожок", "Брикет"},
         {"Чистая линия", "48 копеек", "Магнат", "Баскин"},
         {" 70 г", " 80 г", " 450 г", " 1 кг"}},
        {"Сигареты",
         150,
         {"Сигареты", "Сигареты с фильтром", "Сигариллы"},
         {"Ява", "Петр I", "LD", "Winston", "Camel", "Parliament", "Kent", "Bond", "Chesterfield",
          "Marlboro", "Rothmans", "Sobranie", "Davidoff", "Русский стиль", "Donskoy", "Максим"},
         {" лёгкие", " крепкие", " тонкие", " компакт", " блок"}},
        {"Табак и стики",
         180,
         {"Стики", "Табак для трубки", "Сигары"},
         {"Heets", "Fiit", "Captain Black", "Cohiba", "Terea", "Neo", "Glo"},
         {" янтарные", " бирюзовые", " классика"}},
        {"Зажигалки",
         25,
         {"Зажигалка", "Спички", "Газ для зажигалок"},
         {"Cricket", "BIC", "Zippo"},
         {"", " турбо", " набор"}},
        {"Масла моторные",
         950,
         {"Масло моторное 5W-30", "Масло моторное 5W-40", "Масло моторное 10W-40",
          "Масло моторное 0W-20", "Масло моторное 5W-20", "Масло моторное 10W-30",
          "Масло моторное 15W-40"},
         {"Лукойл", "Shell", "Castrol", "Mobil", "Роснефть", "Total", "ZIC", "Motul", "Liqui Moly",
          "Gazpromneft"},
         {" 1 л", " 4 л", " 5 л", " 20 л"}},
        {"Масла двухтактные",
         420,
         {"Масло 2T", "Масло для лодочных моторов"},
         {"Лукойл", "Motul", "Stihl"},
         {" 0,5 л", " 1 л"}},
        {"Масла трансмиссион.",
         480,
         {"Масло 75W-90", "Масло 80W-90", "Жидкость ATF"},
         {"Лукойл", "Shell", "Castrol", "ТНК", "Mobil", "Total", "Motul", "Роснефть"},
         {" 1 л", " 4 л"}},
        {"Тормозные жидкости",
         260,
         {"Тормозная жидкость DOT-4", "Тормозная жидкость DOT-3"},
         {"Роса", "Felix", "Sintec"},
         {" 0,455 л", " 0,91 л"}},
        {"Охлаждающие жидкости",
         380,
         {"Антифриз зелёный", "Антифриз красный", "Тосол"},
         {"Felix", "Sintec", "Лукойл", "Coolstream", "Motul", "Total"},
         {" 1 кг", " 5 кг", " 10 кг"}},
        {"Омыватели",
         190,
         {"Омыватель зимний -20", "Омыватель зимний -30", "Омыватель летний"},
         {"Лукойл", "Sintec", "Clean Glass", "Ice Drive", "Felix", "Грасс"},
         {" 1 л", " 4 л", " 5 л"}},
        {"Автохимия",
         260,
         {"Очиститель стёкол", "Полироль кузова", "Очиститель салона", "Очиститель дисков",
          "Антидождь"},
         {"Грасс", "Turtle Wax", "Liqui Moly", "Runway", "Kerry", "Astrohim", "Abro"},
         {" 400 мл", " 500 мл"}},
        {"Присадки",
         340,
         {"Очиститель инжектора", "Присадка в масло", "Антигель", "Октан-корректор"},
         {"Liqui Moly", "Hi-Gear", "Лавр"},
         {" 300 мл", " 500 мл"}},
        {"Смазки",
         220,
         {"Смазка универсальная", "Литол-24", "Графитная смазка", "Силиконовая смазка"},
         {"WD-40", "Лавр", "Oilright"},
         {" 100 мл", " 400 мл"}},
        {"Щётки и скребки",
         350,
         {"Щётка стеклоочистителя", "Скребок", "Щётка-сметка"},
         {"Bosch", "Alca", "Champion", "Denso"},
         {" 400 мм", " 500 мм", " 600 мм"}},
        {"Лампы",
         170,
         {"Лампа H1", "Лампа H4", "Лампа H7", "Лампа W5W", "Лампа P21W", "Лампа H3", "Лампа HB3",
          "Лампа H11", "Лампа W21W"},
         {"Philips", "Osram", "Narva"},
         {"", " +50%"}},
        {"Предохранители",
         120,
         {"Набор предохранителей", "Предохранитель флажковый"},
         {"Autovirazh", "Skyway"},
         {" 10 А", " 15 А", " 20 А", " набор"}},
        {"Аккумуляторы",
         5200,
         {"Аккумулятор", "Аккумулятор AGM"},
         {"Тюмень", "Varta", "Bosch", "Medalist"},
         {" 55 А·ч", " 60 А·ч", " 75 А·ч"}},
        {"Свечи и фильтры",
         310,
         {"Свеча зажигания", "Фильтр воздушный", "Фильтр масляный", "Фильтр салонный"},
         {"Bosch", "NGK", "Mann", "Filtron", "Denso", "Champion", "Knecht", "Sakura"},
         {"", " комплект"}},
        {"Аптечки",
         420,
         {"Аптечка автомобильная", "Пластырь", "Бинт"},
         {"ФЭСТ", "Виталфарм"},
         {"", " большая"}},
        {"Огнетушители",
         650,
         {"Огнетушитель ОП-2", "Огнетушитель ОУ-2", "Огнетушитель ОП-4"},
         {"Ярпожинвест", "Пожтехника"},
         {""}},
        {"Знаки и жилеты",
         300,
         {"Знак аварийной остановки", "Жилет светоотражающий"},
         {"Autovirazh", "Airline"},
         {"", " XL"}},
        {"Тросы и провода",
         450,
         {"Трос буксировочный", "Провода прикуривания"},
         {"Airline", "Autoprofi", "Скайвей"},
         {" 3 т", " 5 т", " 200 А", " 400 А"}},
        {"Ароматизаторы",
         140,
         {"Ароматизатор Ёлочка", "Ароматизатор гелевый", "Ароматизатор на дефлектор",
          "Ароматизатор спрей"},
         {"Новая машина", "Ваниль", "Морской бриз", "Кофе", "Цитрус", "Вишня", "Лимон", "Антитабак",
          "Бабл-гам", "Океан"},
         {""}},
        {"Автоаксессуары",
         350,
         {"Держатель для телефона", "Органайзер", "Коврик", "Чехол руля"},
         {"Airline", "Autoprofi", "Skyway", "Wiiix", "Baseus"},
         {"", " универсальный"}},
        {"Карты и атласы",
         280,
         {"Атлас дорог", "Карта области", "Карта города"},
         {"Роскартография", "Ди Эм Би"},
         {" 2024", " 2025"}},
        {"Газеты и журналы",
         40,
         {"Газета", "Журнал", "Кроссворды", "Сканворды"},
         {"За рулём", "Авторевю", "Аргументы и факты", "Тёщин язык"},
         {""}},
        {"Батарейки",
         60,
         {"Батарейка AA", "Батарейка AAA", "Батарейка CR2032", "Батарейка 9V"},
         {"Duracell", "Energizer", "GP", "Varta", "Camelion", "Panasonic", "Космос"},
         {" 1 шт.", " 2 шт.", " 4 шт."}},
        {"Зарядки и кабели",
         450,
         {"Зарядное устройство USB", "Кабель USB-C", "Кабель Lightning", "Кабель micro-USB"},
         {"Borofone", "Hoco", "Baseus", "Xiaomi", "Samsung", "Defender"},
         {" 1 м", " 2 м"}},
        {"Канистры и воронки",
         520,
         {"Канистра", "Воронка", "Шланг для топлива"},
         {"Autovirazh", "Stels"},
         {" 5 л", " 10 л", " 20 л"}},
        {"Перчатки",
         70,
         {"Перчатки рабочие", "Перчатки нитриловые", "Перчатки х/б"},
         {"Manipula", "Paclan"},
         {" M", " L", " XL"}},
        {"Губки и салфетки",
         90,
         {"Губка для мойки", "Салфетка микрофибра", "Замша", "Салфетки влажные"},
         {"Airline", "Грасс", "Vileda"},
         {" 1 шт.", " 3 шт."}},
        {"Мойка", 150, {"Жетон на мойку", "Пылесос"}, {"", " 5 минут"}, {""}},
        {"Гигиена",
         80,
         {"Зубная щётка", "Влажные салфетки", "Антисептик", "Платки бумажные"},
         {"Colgate", "Aura", "Zewa"},
         {"", " дорожный"}},
        {"Игрушки",
         250,
         {"Машинка", "Мяч", "Раскраска", "Пазл"},
         {"Технопарк", "Мозаика", "Hot Wheels"},
         {"", " большой"}},
        {"Лотерея",
         100,
         {"Лотерейный билет"},
         {"Русское лото", "Жилищная лотерея", "Спортлото", "Гослото"},
         {""}},
        {"Уголь и розжиг",
         180,
         {"Уголь древесный", "Брикеты", "Жидкость для розжига"},
         {"Грилькоф", "Мангал"},
         {" 2 кг", " 5 кг", " 0,5 л"}},
        {"Дрова и газ", 300, {"Дрова берёзовые", "Баллон газовый"}, {"", " малый"}, {""}},
        {"Д'Артаньян", 99, {"Набор Д'Артаньян", "Сувенир"}, {"", " подарочный"}, {""}},
        {"", 10, {"Товар без категории", "Пакет"}, {"", " большой"}, {""}},
    };
    return shelves;
}

// Every kind of a shelf in every make and pack, in that order; names fit the 50 characters the
// goods list stores.
QStringList shelfGoods(const ShopShelf& shelf) {
    QStringList goods;
    for (const char* kind : shelf.kinds)
        for (const char* make : shelf.makes)
            for (const char* pack : shelf.packs) {
                QString name = QString::fromUtf8(kind);
                const QString makeName = QString::fromUtf8(make);
                if (!makeName.isEmpty() && !makeName.startsWith(QLatin1Char(' ')))
                    name += QLatin1Char(' ');
                goods << (name + makeName + QString::fromUtf8(pack)).left(50);
            }
    return goods;
}

QString stamp(const QDate& date, qint64 msecOfDay) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", date.year(), date.month(),
                  date.day(), int(msecOfDay / 3600000), int(msecOfDay / 60000 % 60),
                  int(msecOfDay / 1000 % 60), int(msecOfDay % 1000));
    return QString::fromLatin1(buf);
}

double round2(double v) {
    return std::round(v * 100.0) / 100.0;
}

// Busier on Fridays, quieter on Sundays; more driving in summer.
double dayFactor(const QDate& date, Random& random) {
    static const double weekday[] = {1.0, 0.97, 0.98, 1.0, 1.02, 1.15, 1.05, 0.9};
    const double season = 1.0 + 0.09 * std::sin((date.dayOfYear() - 105) * 2.0 * M_PI / 365.0);
    return weekday[date.dayOfWeek()] * season * (0.92 + 0.16 * random.uniform());
}

std::vector<qint64> dayTimes(int count, Random& random) {
    std::vector<qint64> times(size_t(std::max(count, 0)));
    for (qint64& t : times)
        t = qint64(random.pick(kHourWeights)) * 3600000 + qint64(random.below(3600000));
    std::sort(times.begin(), times.end());
    return times;
}

double litres(const Grade& grade, bool truckDiesel, Random& random) {
    if (truckDiesel)
        return round2(150 + random.uniform() * 250);
    // Log-normal around the grade's usual filling, with a floor of a couple of litres.
    const double v = grade.meanLitres * std::exp(0.45 * random.normal() - 0.1);
    return round2(std::clamp(v, 2.0, 120.0));
}

// The rows of one table, filled the way a prepared statement is bound; the sink stores them.
class Rows {
public:
    Rows(StationSink& sink, const char* table, const QStringList& columns)
        : m_sink(sink)
        , m_table(sink.table(QString::fromLatin1(table), columns))
        , m_values(columns.size()) {}
    void bindValue(int column, const QVariant& value) { m_values[column] = value; }
    void add() { m_sink.row(m_table, m_values); }

private:
    StationSink& m_sink;
    int m_table;
    QVariantList m_values;
};

class Writer {
public:
    Writer(const StationSettings& settings, const StationGenerator::Progress& progress)
        : m_settings(settings)
        , m_progress(progress) {}

    void fuel(StationSink& sink, StationSummary& summary);
    void goods(StationSink& sink, StationSummary& summary);

private:
    void report(const QString& what, int day) {
        if (m_progress && (day % 10 == 0 || day + 1 == m_settings.days))
            m_progress(QStringLiteral("%1: день %2 из %3")
                           .arg(what, QString::number(day + 1), QString::number(m_settings.days)));
    }

    const StationSettings& m_settings;
    const StationGenerator::Progress& m_progress;
};

void Writer::fuel(StationSink& sink, StationSummary& summary) {
    sink.beginDatabase(StationSink::Database::Fuel);
    Random random(m_settings.seed);

    Rows grade(sink, "GSM", {"ID_GSM", "GsmName", "SortOrder", "Price"});
    for (size_t i = 0; i < kGrades.size(); ++i) {
        grade.bindValue(0, int(i + 1));
        grade.bindValue(1, QString::fromUtf8(kGrades[i].name));
        grade.bindValue(2, int(i + 1));
        grade.bindValue(3, kGrades[i].price);
        grade.add();
    }

    // Twelve-hour shifts from 20:00 the evening before the first day, numbered on from 1 with the
    // odd gap where a shift was cancelled; the last one is still open.
    const qint64 halfDay = 12 * 3600000ll;
    const qint64 shiftCount = (qint64(m_settings.days) * 24 + 4 + 11) / 12;
    std::vector<int> numbers(static_cast<size_t>(shiftCount));
    int number = 1;
    for (int& n : numbers) {
        if (random.below(150) == 0)
            number += 1 + random.below(3);
        n = number++;
    }
    const QDate origin = m_settings.start.addDays(-1);
    const qint64 firstShift = 20 * 3600000ll; // msec from the origin's midnight
    Rows shift(sink, "SmSilo", {"SmNum", "BegTime", "EndTime", "Operator"});
    for (qint64 i = 0; i < shiftCount; ++i) {
        const qint64 begin = firstShift + i * halfDay;
        const qint64 end = begin + halfDay;
        shift.bindValue(0, numbers[size_t(i)]);
        shift.bindValue(1, stamp(origin.addDays(begin / 86400000), begin % 86400000));
        shift.bindValue(2, i + 1 == shiftCount
                               ? QVariant(QMetaType(QMetaType::QString))
                               : QVariant(stamp(origin.addDays(end / 86400000), end % 86400000)));
        shift.bindValue(3, QString::fromUtf8(kOperators[(i / 2 + i % 2 * 2) % 5]));
        shift.add();
    }
    summary.shifts = shiftCount;

    Rows filling(sink, "LogTran",
                 {"Data", "GsmName", "Liter", "Price", "Summa", "NumTrk", "SmNum"});
    std::array<QString, kGrades.size()> names;
    std::array<double, kGrades.size()> shares;
    for (size_t i = 0; i < kGrades.size(); ++i) {
        names[i] = QString::fromUtf8(kGrades[i].name);
        shares[i] = kGrades[i].share;
    }
    for (int day = 0; day < m_settings.days; ++day) {
        const QDate date = m_settings.start.addDays(day);
        // Prices go up a few per cent a year, in steps every four weeks.
        const double inflation = 1.0 + 0.06 * (day / 28) / 13.0;
        const int count = int(std::lround(m_settings.fillingsPerDay * dayFactor(date, random)));
        for (qint64 t : dayTimes(count, random)) {
            const int g = random.pick(shares);
            const double price = round2(kGrades[size_t(g)].price * inflation);
            double liter;
            double summa;
            const double kind = random.uniform();
            if (kind < 0.25) {
                // Paid a round sum: the pump stops at the money.
                summa = double(100 * (2 + random.below(14)));
                liter = round2(summa / price);
            } else if (kind < 0.45) {
                liter = double(10 * (1 + random.below(5)));
                summa = round2(liter * price);
            } else {
                liter = litres(kGrades[size_t(g)], g == 4 && random.below(10) == 0, random);
                summa = round2(liter * price);
            }
            const qint64 sinceOrigin = qint64(day + 1) * 86400000 + t;
            filling.bindValue(0, stamp(date, t));
            filling.bindValue(1, names[size_t(g)]);
            filling.bindValue(2, liter);
            filling.bindValue(3, price);
            filling.bindValue(4, summa);
            filling.bindValue(5, 1 + random.below(8));
            filling.bindValue(6, numbers[size_t((sinceOrigin - firstShift) / halfDay)]);
            filling.add();
            ++summary.fillings;
        }
        report(QStringLiteral("Топливо"), day);
    }
    sink.endDatabase();
}

void Writer::goods(StationSink& sink, StationSummary& summary) {
    sink.beginDatabase(StationSink::Database::Goods);
    Random random(m_settings.seed ^ 0x5DEECE66Dull);

    struct Article {
        int id;
        double price;
        std::vector<int> batches;
    };
    std::vector<Article> articles;
    Rows category(sink, "Category", {"ID_Category", "Name", "IsDelete", "KKMSection"});
    Rows goods(sink, "Goods", {"ID_Goods", "ID_Category", "Name"});
    Rows batch(sink, "Batches", {"ID_P", "ID_Goods"});
    int goodsId = 1;
    int batchId = 1;
    const std::vector<ShopCategory> catalogue = shopCatalogue();
    for (size_t c = 0; c < catalogue.size(); ++c) {
        const int categoryId = int(c + 1);
        category.bindValue(0, categoryId);
        category.bindValue(1, catalogue[c].name);
        category.bindValue(2, c % 17 == 16 ? 1 : 0);
        category.bindValue(3, 1 + int(c % 3));
        category.add();
        for (const QString& name : catalogue[c].goods) {
            goods.bindValue(0, goodsId);
            goods.bindValue(1, categoryId);
            goods.bindValue(2, name);
            goods.add();
            Article article{
                goodsId, round2(catalogue[c].price * (0.7 + 0.6 * random.uniform())), {}};
            const int batches = 1 + random.below(3);
            for (int b = 0; b < batches; ++b) {
                batch.bindValue(0, batchId);
                batch.bindValue(1, goodsId);
                batch.add();
                article.batches.push_back(batchId++);
            }
            articles.push_back(std::move(article));
            ++goodsId;
        }
    }
    // Batches of articles deleted since: their lines name goods that are no longer there.
    std::vector<int> orphanBatches;
    for (int i = 0; i < 5; ++i) {
        batch.bindValue(0, batchId);
        batch.bindValue(1, i % 2 ? QVariant(QMetaType(QMetaType::Int)) : QVariant(900000 + i));
        batch.add();
        orphanBatches.push_back(batchId++);
    }

    Rows document(sink, "Documents", {"ID_doc", "Data", "\"TYPE\""});
    Rows line(sink, "GoodsMotion", {"ID_doc", "ID_p", "RPrice", "\"COUNT\""});
    const std::array<double, 5> lineWeights{50, 25, 13, 8, 4};
    const int articleCount = int(articles.size());
    // Popular articles sell far more often than the rest.
    const auto popularArticle = [&] {
        const double u = random.uniform();
        return std::min(articleCount - 1, int(articleCount * u * u * u));
    };
    qint64 documentId = 1;
    const auto addLine = [&](qint64 doc, int batchOf, double price, double count) {
        line.bindValue(0, doc);
        line.bindValue(1, batchOf);
        line.bindValue(2, price);
        line.bindValue(3, count);
        line.add();
        ++summary.lines;
    };
    const auto addDocument = [&](const QDate& date, qint64 t, int type) {
        document.bindValue(0, documentId);
        document.bindValue(1, stamp(date, t));
        document.bindValue(2, type);
        document.add();
        ++summary.documents;
        return documentId++;
    };
    for (int day = 0; day < m_settings.days; ++day) {
        const QDate date = m_settings.start.addDays(day);
        const double inflation = 1.0 + 0.08 * (day / 28) / 13.0;
        const int sales =
            int(std::lround(m_settings.fillingsPerDay / 3.0 * dayFactor(date, random)));
        // The morning delivery: a receipt (type 1) that must never count as sales.
        const qint64 receipt = addDocument(date, 7 * 3600000ll + random.below(3600000), 1);
        for (int i = 0; i < 10 + random.below(20); ++i) {
            const Article& a = articles[size_t(random.below(articleCount))];
            addLine(receipt, a.batches.back(), round2(a.price * 0.7),
                    double(12 + random.below(36)));
        }
        for (qint64 t : dayTimes(sales, random)) {
            const int type = random.below(200) == 0 ? 3 : 2; // now and then a return
            const qint64 doc = addDocument(date, t, type);
            const int lines = 1 + random.pick(lineWeights);
            for (int l = 0; l < lines; ++l) {
                if (random.below(500) == 0) {
                    addLine(doc, orphanBatches[size_t(random.below(int(orphanBatches.size())))],
                            99.0, 1);
                    continue;
                }
                const Article& a = articles[size_t(popularArticle())];
                const int b = a.batches[size_t(random.below(int(a.batches.size())))];
                addLine(doc, b, round2(a.price * inflation),
                        random.below(5) == 0 ? 2 + random.below(2) : 1);
            }
        }
        if (date.dayOfWeek() == 1) { // the weekly write-off (type 4)
            const qint64 doc = addDocument(date, 22 * 3600000ll, 4);
            addLine(doc, articles[size_t(random.below(articleCount))].batches.front(), 0, 1);
        }
        report(QStringLiteral("Товары"), day);
    }
    sink.endDatabase();
}

} // namespace

std::vector<ShopCategory> shopCatalogue() {
    std::vector<ShopCategory> catalogue;
    for (const ShopShelf& shelf : shopShelves())
        catalogue.push_back({QString::fromUtf8(shelf.category), shelf.price, shelfGoods(shelf)});
    return catalogue;
}

StationGenerator::StationGenerator(StationSettings settings, Progress progress)
    : m_settings(std::move(settings))
    , m_progress(std::move(progress)) {}

StationSummary StationGenerator::run(StationSink& sink) {
    StationSummary summary;
    Writer writer(m_settings, m_progress);
    writer.fuel(sink, summary);
    writer.goods(sink, summary);
    sink.commit();
    summary.fuelFile = sink.name(StationSink::Database::Fuel);
    summary.goodsFile = sink.name(StationSink::Database::Goods);
    return summary;
}

#!/usr/bin/env bash
# The main job: sets up the machine, builds the plug-in and its tools, creates a demo station and
# runs the back office with the plug-in. With a display the back office is left to the person at
# it; without one the back office plays the operator itself, offscreen, and leaves pictures of the
# fuel statistics windows and the printed fuel report in $DARA_ROOT/EXPORT/, and torvi-report
# writes the same month's report and data files beside them. Running it again reuses the station.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${TORVI_SKIP_SETUP:-}" != "1" ]; then
    bash scripts/setup.sh
fi

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Only what the job runs; the tests and benchmarks are built by scripts/test.sh.
cmake --build "$BUILD_DIR" --target torvistat9 torvi-host torvi-stationdb torvi-report
HOST="$BUILD_DIR/tools/torvi-host/torvi-host"
STATIONDB="$BUILD_DIR/tools/torvi-stationdb/torvi-stationdb"
REPORT="$BUILD_DIR/tools/torvi-report/torvi-report"

# Minimal containers may leave HOME unset; the passwd entry still knows it.
HOME=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
export DARA_ROOT=${DARA_ROOT:-$HOME/DARA}

# The suite's regional settings are Russian (day.month.year, decimal comma); a machine that sets
# none gets them for the demo rather than the C locale's English dates.
case "${LC_ALL:-${LANG:-}}" in
    "" | C | C.* | POSIX)
        # Not a pipe: grep -q leaves early, and pipefail would take locale's broken pipe for
        # a missing locale.
        if grep -qix 'ru_RU\.utf-\?8' < <(locale -a 2>/dev/null); then
            export LC_ALL=ru_RU.UTF-8
        fi
        ;;
esac

# A year of a busy station up to yesterday; the same seed always gives the same history.
FUEL_DB="$DARA_ROOT/DB/fuel.sqlite"
GOODS_DB="$DARA_ROOT/DB/TradeDB/goods.sqlite"
if [ -e "$FUEL_DB" ] && [ -e "$GOODS_DB" ]; then
    echo "Базы данных станции уже есть в $DARA_ROOT/DB/, они остаются как есть."
elif [ -e "$FUEL_DB" ] || [ -e "$GOODS_DB" ]; then
    echo "В $DARA_ROOT/DB/ есть только одна из баз $FUEL_DB и $GOODS_DB." >&2
    echo "Удалите её или создайте обе заново: $STATIONDB --root $DARA_ROOT --force" >&2
    exit 1
else
    TODAY=$(date +%F)
    echo "Создаю демонстрационную станцию в $DARA_ROOT/DB/ (год продаж до $TODAY)…"
    "$STATIONDB" --root "$DARA_ROOT" --start "$(date -d "$TODAY -365 days" +%F)" --days 365 \
        --fillings 1200 --seed 2009
fi

HOST_ARGS=(--mode 0 --fuel-db "$DARA_ROOT/DB/" --caption "демонстрационной АЗС")

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo
    echo "Бэк-офис АЗС с модулем статистики: меню «Отчёты» → «Статистика» → «ГСМ» или «Товары»."
    exec "$HOST" "${HOST_ARGS[@]}"
fi

# The job's month ends with the station's last day of sales, also for a station made on an
# earlier day.
LAST_DAY=$(sqlite3 -readonly "$FUEL_DB" "SELECT substr(MAX(Data), 1, 10) FROM LogTran" \
    2>/dev/null || true)
if [[ "$LAST_DAY" =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}$ ]]; then
    JOB_END=$(date -d "$LAST_DAY +1 day" +%F)
else
    JOB_END=$(date +%F)
fi

echo
echo "Дисплея нет: бэк-офис строит статистику по ГСМ сам, без экрана."
set +e
PICTURES=$(QT_QPA_PLATFORM=offscreen "$HOST" "${HOST_ARGS[@]}" --offscreen-job \
    --job-end "$JOB_END")
STATUS=$?
set -e
if [ "$STATUS" -ne 0 ]; then
    echo "torvi-host --offscreen-job завершился с кодом $STATUS" >&2
    exit "$STATUS"
fi
echo "Снимки окон и отчет:"
while IFS= read -r picture; do
    echo "  $picture"
done <<<"$PICTURES"

# The same month without a window: the report and the chart's numbers as files.
EXPORT_DIR="$DARA_ROOT/EXPORT"
set +e
REPORT_FILES=$("$REPORT" fuel --from "$(date -d "$JOB_END -30 days" +%F)" --to "$JOB_END" \
    --step 1 сутки --all --split --quiet --fuel-db "$DARA_ROOT/DB/" \
    --out "$EXPORT_DIR/fuel-report-cli.pdf" --out "$EXPORT_DIR/fuel-report-cli.xlsx" \
    --out "$EXPORT_DIR/fuel-report-cli.csv" && printf '%s\n' "$EXPORT_DIR/fuel-report-cli.pdf" \
    "$EXPORT_DIR/fuel-report-cli.xlsx" "$EXPORT_DIR/fuel-report-cli.csv")
STATUS=$?
set -e
if [ "$STATUS" -ne 0 ]; then
    echo "torvi-report завершился с кодом $STATUS" >&2
    exit "$STATUS"
fi
echo "Отчет и данные torvi-report:"
while IFS= read -r file; do
    echo "  $file"
done <<<"$REPORT_FILES"

#!/bin/sh
# One load run of sdvoice-web over the archive that bench_web kept in FOLDER (see README.md):
#     bench/web_load.sh FOLDER MIX CONNECTIONS SECONDS [BUILD]
# MIX is mixed, ranges or searches (bench/web_load.lua). Starts the server in plain HTTP on
# 127.0.0.1:18735 with FOLDER's configuration, logs in as the account "load" (made when missing),
# finds the folder's key, its count and the hour's id, warms the three searches of the mixed run,
# runs wrk with the mix, and samples the server's memory every 30 s from the start of the load
# until a minute after its end (SDVOICE_WEB_AFTER seconds, 60 when not set). Then stops the server.
set -eu
if [ $# -lt 4 ] || [ $# -gt 5 ]; then
    echo "usage: $0 FOLDER mixed|ranges|searches CONNECTIONS SECONDS [BUILD]" >&2
    exit 2
fi
folder=$(realpath "$1")
mix=$2
connections=$3
seconds=$4
build=$(realpath "${5:-build}")
bench=$(dirname "$(realpath "$0")")
after=${SDVOICE_WEB_AFTER:-60}
port=18735
site=http://127.0.0.1:$port
jar=$folder/load-cookies
export XDG_CONFIG_HOME="$folder/config" XDG_DATA_HOME="$folder/data"

if ! "$build/web/sdvoice-web" account list | grep -q '^load	'; then
    echo load-pass | "$build/web/sdvoice-web" account add load listen
fi
"$build/web/sdvoice-web" --port $port --plain &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
tries=0
until curl -s -o /dev/null "$site/login"; do
    tries=$((tries + 1))
    [ $tries -lt 100 ] || { echo "the server did not start" >&2; exit 1; }
    sleep 0.2
done
curl -s -o /dev/null -c "$jar" -d 'name=load&password=load-pass' "$site/login"
token=$(awk '$6 == "sdvoice_session" { print $7 }' "$jar")
ask() { curl -s -f -b "$jar" "$site$1"; }
keyOf() { ask /api/search-form | jq -r --arg name "$1" '.folders[] | select(.path | rtrimstr("/") | split("/") | last == $name) | .key'; }
recordings=$(keyOf VOICE)
hour=$(ask "/api/search?folder=$(keyOf hour)" | jq -r '.rows[0].id')
count=$(ask "/api/search?folder=$recordings&pageSize=1" | jq -r '.total')
echo "folder $recordings ($count recordings), hour $hour"
if [ "$mix" = mixed ]; then
    ask "/api/search?from=2023-01-01&to=2030-12-31&sort=4&order=desc&pageSize=100&page=1" >/dev/null
    ask "/api/search?from=2023-01-01&to=2030-12-31&mode=%E8%A2%AB%E5%8F%AB&phone=138&pageSize=100&page=1" >/dev/null
    ask "/api/search?folder=$recordings&from=2024-01-01&to=2026-12-31&sort=2&order=asc&pageSize=100&page=1" >/dev/null
fi

"$bench/sample_rss.sh" $server $((seconds + after)) &
sampler=$!
SDVOICE_WEB_MIX=$mix SDVOICE_WEB_TOKEN=$token SDVOICE_WEB_FOLDER=$recordings SDVOICE_WEB_HOUR=$hour \
    SDVOICE_WEB_COUNT=$count wrk -t2 -c"$connections" -d"${seconds}s" --timeout 10s --latency \
    -s "$bench/web_load.lua" "$site"
wait $sampler

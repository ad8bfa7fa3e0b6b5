#!/usr/bin/env bash
# Installs what is missing, builds the gateway and starts it in ./run (its working directory).
set -euo pipefail
top="$(cd "$(dirname "$0")" && pwd)"
cd "$top"

./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target lora-brindle

mkdir -p run
if [ ! -d run/deviceFolder ] && [ -d examples/deviceFolder ]; then
    cp -r examples/deviceFolder run/deviceFolder
fi
cd run
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting the gateway with QT_QPA_PLATFORM=offscreen (no visible window)."
    export QT_QPA_PLATFORM=offscreen
fi
exec "$top/build/lora-brindle" "$@"

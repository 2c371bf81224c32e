#!/usr/bin/env bash
# Sets up the machine, builds, and shows the library answering from Java: a
# small Java program loads libmodburn.so, asks for result texts, receives the
# library's log lines in its own logger and gets the exception of an update.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
java -Djava.library.path=build/src -cp build/java/modburn.jar scripts/DemoAnswers.java

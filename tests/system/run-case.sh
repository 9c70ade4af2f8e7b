# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one case (its name as the argument) in a shell of its own.
. /systest/lib.sh
for f in /systest/cases/*.sh; do . "$f"; done
cd /tmp || exit 1
"case_$1"

#!/usr/bin/env bash
# The driver's folders are floors: core/ is the ground every subsystem
# stands on, the subsystems come next, and driver/ (the lifecycle) is the
# roof that calls them all. An include may only look down or sideways within
# its floor's allowance, so that the folder list reads as the build order.
# zelvan-ctl's groups stand on them the same way: the channel client, then
# the doctor and tuning beside each other, and the command line on top, so
# that no capability prints for a terminal or reads argv. The panel is a
# face beside the command line, over the same capabilities.
# Usage: check_layers.sh SOURCE_DIR
set -euo pipefail
cd "$1"

# Each folder and the folders its files may include, besides itself.
declare -A allowed=(
  [core]=""
  [sensor]="core"
  [presence]="core sensor"
  [ipd]="core sensor"
  [control]="core sensor presence ipd"
  [driver]="core sensor presence ipd control"
  [tools/zelvan_ctl/channel]="core control"
  [tools/zelvan_ctl/doctor]="core ipd tools/zelvan_ctl/channel"
  [tools/zelvan_ctl/tuning]="core sensor tools/zelvan_ctl/channel"
  [tools/zelvan_ctl/panel]="core tools/zelvan_ctl/channel tools/zelvan_ctl/doctor tools/zelvan_ctl/tuning"
  [tools/zelvan_ctl/cli]="core control tools/zelvan_ctl/channel tools/zelvan_ctl/doctor tools/zelvan_ctl/tuning tools/zelvan_ctl/panel"
)

bad=0
for folder in "${!allowed[@]}"; do
  while IFS= read -r hit; do
    [ -n "$hit" ] || continue
    file=${hit%%:*}
    # A zelvan-ctl group is named by its folder; the rest by the first one.
    target=$(sed -E 's/.*#include "(tools\/zelvan_ctl\/[^/"]+|[^/"]+)\/.*/\1/' <<<"$hit")
    case " $folder ${allowed[$folder]} " in
      *" $target "*) ;;
      *) echo "FAIL: $file includes $target/, above or beside $folder/ where it may not look"; bad=1 ;;
    esac
  done < <(grep -rHE '^#include "[^/"]+/' "$folder" --include='*.h' --include='*.cpp' || true)
done
[ "$bad" -eq 0 ] || exit 1
echo "layers OK: ${!allowed[*]}"

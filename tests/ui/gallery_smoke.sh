#!/bin/sh
# Runs the widget gallery once into its folder (build/gallery under CTest) and checks that
# it wrote its pictures: one per widget state in each appearance, the results grid and the
# statement view among them, and both overview sheets.
# Usage: gallery_smoke.sh <gallery program>
set -eu
out="${MIRELO_GALLERY_DIR:-$HOME/gallery}"
"$1" "$out"
for name in MRButton-primary-hover-dark MRButton-ghost-pressed-light MRPill-on-dark \
            MRSettingChip-writes-on-light MRIconCatalogue-rest-dark MRHistoryRow-hover-light \
            MRStyleKit-connectionMenu-detail-rest-dark UpdateBannerView-downloading-rest-light \
            ResultsGridView-rest-light ResultsGridView-selected-dark ResultsGridView-focused-light \
            ResultsGridView-wide-dark ResultsGridView-empty-light \
            MRSQLTextViewHighlighter-readonly-rest-dark MRSQLTextViewHighlighter-readonly-selected-light \
            ContentViewController-results-760-light ContentViewController-history-filtered-1040-dark \
            ContentViewController-running-760-dark ExportProgressPanel-progress-light \
            ResultsGridView-menu-capped-dark \
            LoginWindowController-rest-light LoginWindowController-validating-dark \
            LoginWindowController-error-light MainWindowController-results-dark \
            Gallery-overview-light Gallery-overview-dark; do
    if [ ! -s "$out/$name.png" ]; then
        echo "The gallery did not write $name.png." >&2
        exit 1
    fi
done
light=$(find "$out" -name '*-light.png' | wc -l)
dark=$(find "$out" -name '*-dark.png' | wc -l)
if [ "$light" -lt 95 ] || [ "$light" -ne "$dark" ]; then
    echo "The gallery wrote $light light and $dark dark pictures." >&2
    exit 1
fi
echo "$light pictures in each appearance."

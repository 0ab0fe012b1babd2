require ["include", "variables", "date"];
set "d" "2026";
include :personal :once "ab";
include :global "spam";
if date :originalzone :value "ge" "date" "date" "${d}-12-25" { return; } elsif anyof (size :over 1M, true) { vacation 10K "x"; } else { stop; }
foreverypart { vacation "part"; }

require ["vacation","date","relational"];
if allof (currentdate :value "ge" "date" "2026-12-24", currentdate :value "le" "date" "2027-01-06") {
vacation :days 7 :addresses ["alice@example.com"] :subject "Away" text:
I am away.
..dotted
.
;
}

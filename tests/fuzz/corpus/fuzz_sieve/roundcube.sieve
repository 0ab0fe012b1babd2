require ["vacation","date","relational"];
# rule:[Christmas away]
if allof (currentdate :zone "+0100" :value "ge" "date" "2026-12-24", currentdate :zone "+0100" :value "le" "date" "2027-01-06")
{
	vacation :days 1 :subject "Away" "Back on 7 January.";
}

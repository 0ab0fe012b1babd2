require ["vacation","date","relational"];
# rule:[Christmas away]
if false # allof (currentdate :zone "+0100" :value "ge" "iso8601" "2026-12-24T10:00:00")
{
	vacation :days 1 "Back.";
	stop;
}

require ["vacation", "regex", "date", "relational"];
# Vacation
if allof ( not exists ["list-help", "list-id"], not header :comparator "i;ascii-casemap" :is "Precedence" ["list", "bulk"], currentdate :value "ge" "date" "2026-12-24" ) {
vacation :days 7 :addresses "a@example.com" "I am away.";
}

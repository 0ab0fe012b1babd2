### Nextcloud Mail: Vacation Responder ### DON'T EDIT ###
# DATA: {"version":1,"enabled":true,"start":"2026-12-24","end":"2027-01-06"}
require ["date","relational","vacation"];
if allof(currentdate :value "ge" "iso8601" "2026-12-23T23:00:00Z", currentdate :value "le" "iso8601" "2027-01-06T22:59:59Z") {
	vacation :days 4 :subject "Away" "I am away.";
}
### Nextcloud Mail: Vacation Responder ### DON'T EDIT ###

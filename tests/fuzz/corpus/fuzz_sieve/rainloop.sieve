# RAINLOOP:SIEVE
require ["vacation"];
/*
BEGIN:FILTER:6a9f
BEGIN:HEADER
eyJJRCI6IjZhOWYiLCJOYW1lIjoiSG9saWRheSByZXBseSJ9
END:HEADER
*/
/* @Filter is disabled if true
{
	vacation "On holiday.";
} */
/*
END:FILTER
*/

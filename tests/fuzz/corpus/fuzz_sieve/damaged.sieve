if true {
  vacation "unterminated;

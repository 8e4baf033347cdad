int main() { return 0; }  // STUB

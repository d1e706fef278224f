// Placeholder program entry until the main window exists (replaced by it).
int main() { return 0; }

// The show: real clock, real audio, a window.
int WinMain();

int main() { return WinMain(); }

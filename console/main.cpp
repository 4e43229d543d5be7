int main() { return 0x22222; } // stub until start-up lands

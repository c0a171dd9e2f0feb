// A program of nothing that one room of the program is linked into whole (cmake/Rooms.cmake).
int main() {
  return 0;
}

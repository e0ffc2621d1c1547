# Writes a host table of n lines: five fields (shape=5), the same with a space in field 4 on nine
# lines of ten, each a warning of the checker (shape=warn), or three with "# " keys (shape=3).
BEGIN {
  for (i = 0; i < n; i++) {
    if (shape == 3) {
      printf "host%07d\tBuild Server %d\t# %d\n", i, i % 97, i
    } else if (shape == "warn" && i % 10) {
      printf "node%07d\tRack %d Unit %d\thost%07d\t10.%d.%d.%d v%d\tzone%d\n", i, i % 40, i % 12, i, i % 256, int(i / 256) % 256, i % 7, i % 4, i % 5
    } else {
      printf "node%07d\tRack %d Unit %d\thost%07d\t10.%d.%d.%d\tzone%d\n", i, i % 40, i % 12, i, i % 256, int(i / 256) % 256, i % 7, i % 5
    }
  }
}

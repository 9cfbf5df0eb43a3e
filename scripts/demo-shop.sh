# The demo shop, shared by the demo scripts (sourced, not run).

# make_demo_shop SHOP_DIR: a shop's info file, a day's data file and one file per data sub-directory.
make_demo_shop() {
  local shop="$1"
  mkdir -p "$shop/comptage" "$shop/caisse" "$shop/filters" "$shop/messages" "$shop/footfall"
  printf 'Shop=12\r\nName=Demo shop\r\n' > "$shop/shopinfo.arg"
  printf 'date=2026-12-08\r\n' > "$shop/t1208.arg"
  printf '08:00;12\r\n09:00;31\r\n' > "$shop/comptage/R1208.COR"
  printf 'ticket;1;12.50\r\n' > "$shop/caisse/c1208.txt"
  printf 'filter=all\r\n' > "$shop/filters/f1.fif"
  printf 'hello central\r\n' > "$shop/messages/m1.msg"
  printf '10:00;4\r\n' > "$shop/footfall/ff1208.txt"
}

# write_demo_ini INI SHOP_DIR DESTINATION: COPY of the shop to the destination every minute.
write_demo_ini() {
  cat > "$1" <<INI
[General]
LogDetailed=1
TimeBetweenActions=60
ExactTimeMode=0
ExactTime=18:00

[Directory0]
TrackDirectory=$2

[Transport]
Transport=COPY
Destination0=$3
DestinationDirectory=central
INI
}

# The virtual serial port driver staged into the Wine prefix, as the port
# manager expects to find it. Needs common.sh and a built Windows configuration
# (targets qnvport and devcon).
#
# - qnvport.sys in C:\windows\system32\drivers, where the installation file's
#   service points;
# - QN520xx.inf in C:\windows\inf: with no driver copying, the platform finds
#   compatible drivers only among the installation files it knows;
# - QN520xx.inf also in C:\windows and in the program's directory $1: Wine's
#   SetupDiGetINFClass checks a bare file name in the current directory and
#   reads its contents from the Windows folder;
# - devcon.exe in C:\windows\system32, where the manager's "devcon remove" finds it.
stage_vport_driver() {
  local run_dir=$1 windows="$WINEPREFIX/drive_c/windows"
  mkdir -p "$windows/system32/drivers" "$windows/inf" "$run_dir"
  cp "$win32_dir/qnvport.sys" "$windows/system32/drivers/qnvport.sys"
  cp "$win32_dir/QN520xx.inf" "$windows/inf/QN520xx.inf"
  cp "$win32_dir/QN520xx.inf" "$windows/QN520xx.inf"
  cp "$win32_dir/QN520xx.inf" "$run_dir/QN520xx.inf"
  cp "$win32_dir/devcon.exe" "$windows/system32/devcon.exe"
}

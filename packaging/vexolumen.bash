# bash completion for vexolumen
_vexolumen() {
    local cur prev words cword
    _init_completion || return

    local common="--bundle --config-dir --verbose --help --version"
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --bundle | --config-dir) ((i++)) ;;
            -*) ;;
            *) command=${words[i]}; break ;;
        esac
    done

    case $prev in
        --bundle | --config-dir) _filedir -d; return ;;
        --method) COMPREPLY=($(compgen -W "clamp wrap reflect" -- "$cur")); return ;;
        --standard) COMPREPLY=($(compgen -W "ntsc pal hd" -- "$cur")); return ;;
        --preset)
            COMPREPLY=($(compgen -W "$(vexolumen config presets 2>/dev/null | awk '/^[^ ]/ { print $1 }')" -- "$cur"))
            return ;;
        --angles | --offset | --rect | --from | --frames | --fade-in | --fade-out | --sliders | --size | \
        --codec | --crf | --format | --segment | --at) return ;;
    esac

    case $command in
        "") COMPREPLY=($(compgen -W "info render join thumbnail config configure $common" -- "$cur")) ;;
        render)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--from --frames --fade-in --fade-out --sliders --proxy --size --codec \
                    --crf --format --no-autorotate --segment --fast-convert --overwrite -y --progress $common" -- "$cur"))
            else
                _filedir
            fi ;;
        join)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--overwrite -y $common" -- "$cur"))
            else
                _filedir
            fi ;;
        thumbnail | configure)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--at $([[ $command == thumbnail ]] && echo --overwrite -y) $common" -- "$cur"))
            else
                _filedir
            fi ;;
        config)
            local action=""
            for ((i++; i < cword; i++)); do
                [[ ${words[i]} != -* && ${words[i-1]} != --* ]] && { action=${words[i]}; break; }
            done
            if [[ -z $action ]]; then
                COMPREPLY=($(compgen -W "show set reset presets" -- "$cur"))
            elif [[ $action == set ]]; then
                COMPREPLY=($(compgen -W "--preset --angles --offset --method --rect --standard $common" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "$common" -- "$cur"))
            fi ;;
        info) COMPREPLY=($(compgen -W "$common" -- "$cur")) ;;
    esac
}
complete -F _vexolumen vexolumen
